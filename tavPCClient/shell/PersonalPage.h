// The service's personal web pages (recharge, messages, own classes, a class's
// space) open in the browser with a one-time key the service hands out for the
// signed-in user: putRedis first, then the page with the key.
#pragma once

#include <QJsonObject>
#include <QString>

class QWidget;

namespace personalpage {

// Asks for the key with this putRedis body and opens pagePattern (%1 = the key)
// when it comes; failures are toasts over `over`.
void open(QWidget* over, const char* pagePattern, const QString& body);

// What a putRedis answer gives: an empty answer toasts the network failure, a
// refusal its "msg", a missing key or page "网页地址异常！"; otherwise the page
// opens. True when it was handed to the browser.
bool openFromAnswer(QWidget* over, const QJsonObject& answer, const char* pagePattern);

}  // namespace personalpage

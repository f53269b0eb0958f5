#include "PersonalPage.h"

#include <QPointer>
#include <QWidget>

#include "FormBody.h"
#include "HttpRequest.h"
#include "OpenInBrowser.h"
#include "Prompt.h"
#include "ServiceApi.h"

namespace personalpage {

void open(QWidget* over, const char* pagePattern, const QString& body) {
  auto* request = new HttpRequest;
  QPointer<QWidget> window(over);
  QObject::connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed), over,
                   [window, pagePattern](const QJsonObject& answer) {
                     if (window)
                       openFromAnswer(window, answer, pagePattern);
                   });
  request->request(HttpRequest::serviceUrl(ServiceApi::kPutRedis.path), body, HttpRequest::kJson);
}

bool openFromAnswer(QWidget* over, const QJsonObject& answer, const char* pagePattern) {
  if (answer.isEmpty()) {
    Prompt::instance()->showMessage(over, QStringLiteral("网络异常，请检查网络后重试！"));
    return false;
  }
  if (answer.value(QLatin1String("code")).toInt(-1) != 0) {
    Prompt::instance()->showMessage(over, answer.value(QLatin1String("msg")).toString());
    return false;
  }
  const QString key = answer.value(QLatin1String("body")).toVariant().toString();
  if (!pagePattern || key.isEmpty()) {
    Prompt::instance()->showMessage(over, QStringLiteral("网页地址异常！"));
    return false;
  }
  return openInBrowser(over, HttpRequest::serviceUrl(FormBody(QString::fromLatin1(pagePattern)).arg(key)));
}

}  // namespace personalpage

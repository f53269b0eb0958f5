// Opens a web page of the service in the user's browser; when no browser can
// be opened, a toast over the window gives the address instead.
#pragma once

#include <QString>

class QWidget;

bool openInBrowser(QWidget* over, const QString& url);

#include "OpenInBrowser.h"

#include <QDebug>

#include "Prompt.h"
#include "platform/platform.h"

bool openInBrowser(QWidget* over, const QString& url) {
  if (platform::openUrl(url.toStdString()))
    return true;
  qWarning() << "no browser could open" << url;
  Prompt::instance()->showMessage(over, QStringLiteral("无法打开浏览器，请在浏览器中访问：") + url);
  return false;
}

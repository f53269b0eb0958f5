// TavUpdate: started by the client at every start, without arguments.
#include <QApplication>
#include <QFile>

#include "updater/UpdateManager.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QFile style(QStringLiteral(":/res/tav_add/style.qss"));
  if (style.open(QIODevice::ReadOnly))
    app.setStyleSheet(QString::fromUtf8(style.readAll()));
  UpdateManager manager;
  QObject::connect(
      &manager, &UpdateManager::onFinished, &app, [&app](int code) { app.exit(code); },
      Qt::QueuedConnection);
  manager.CheckUpdate();
  return app.exec();
}

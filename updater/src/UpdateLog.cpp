#include "updater/UpdateLog.h"

#include <QDebug>

UpdateLog::UpdateLog(const QString& path) : file_(path) {
  if (!file_.open(QIODevice::ReadWrite | QIODevice::Truncate))
    qDebug() << "file Log open error!" << file_.errorString();
}

void UpdateLog::write(const QString& line) {
  if (!file_.isOpen())
    return;
  file_.write(line.toLocal8Bit());
  file_.flush();
}

#include "MessageLog.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QTextStream>

#include "DataFolder.h"

namespace MessageLog {

namespace {
QString levelWord(QtMsgType type) {
  switch (type) {
    case QtDebugMsg:
      return QStringLiteral("Debug:");
    case QtWarningMsg:
      return QStringLiteral("Warning:");
    case QtCriticalMsg:
      return QStringLiteral("Critical:");
    case QtFatalMsg:
      return QStringLiteral("Fatal:");
    case QtInfoMsg:
      return QStringLiteral("Info:");
  }
  return QString();
}
}  // namespace

QString formatLine(QtMsgType type, const char* file, int line, const QString& text) {
  const QString location = QStringLiteral("File:%1 Line:%2").arg(QString::fromUtf8(file)).arg(line);
  const QString time =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
  // The multi-argument arg() fills all four places in one pass, so a "%1" inside
  // the message text stays as it is.
  return QStringLiteral("%1 %2 %3 %4").arg(levelWord(type), location, text, time);
}

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  const QString line = formatLine(type, context.file, context.line, text);
  // Threads log concurrently; one writer at a time keeps lines whole.
  static QMutex mutex;
  QMutexLocker lock(&mutex);
  QFile file(DataFolder::filePath(QStringLiteral("MsgOutput.txt")));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
    return;
  QTextStream stream(&file);
  stream.setCodec("UTF-8");
  stream << line << "\r\n";
  stream.flush();
  file.close();
}

void install() {
  qInstallMessageHandler(messageHandler);
}

}  // namespace MessageLog

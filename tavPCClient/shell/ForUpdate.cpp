#include "ForUpdate.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QProcess>

#include "platform/platform.h"

namespace {
QString exe(const char* base) {
  return QString::fromStdString(platform::executableName(base));
}
}  // namespace

ForUpdate::ForUpdate(QObject* parent)
    : ForUpdate(QCoreApplication::applicationDirPath(),
                QString::fromStdString(platform::localAppDataDir()), parent) {}

ForUpdate::ForUpdate(const QString& appDir, const QString& localAppData, QObject* parent)
    : QThread(parent), appDir_(appDir), localAppData_(localAppData) {}

void ForUpdate::run() {
  // Without the local data folder nothing here can be done safely.
  if (localAppData_.isEmpty())
    return;

  // An installer downloaded by an earlier update has done its job.
  const QString staleInstaller =
      localAppData_ + QStringLiteral("/%1/").arg(QStringLiteral("TavPcClient")) + exe("AutoUpdate");
  if (QFile::exists(staleInstaller))
    QFile::remove(staleInstaller);

  const QString fresh = appDir_ + '/' + exe("NewUpdate");
  const QString updater = appDir_ + '/' + exe("TavUpdate");

  // Only the updater of this install, started by this user, is ended.
  if (QFile::exists(fresh)) {
    if (QFile::exists(updater)) {
      platform::endProcessesOf(updater.toStdString(), kUpdaterQuitMs);
      QFile::remove(updater);
    }
    if (!QFile::rename(fresh, updater))
      qWarning() << "cannot put the new updater in place" << fresh;
  } else if (QFile::exists(updater)) {
    platform::endProcessesOf(updater.toStdString(), kUpdaterQuitMs);
  }

  if (QProcess::startDetached(updater, QStringList()))
    qInfo() << "updater started:" << updater;
  else
    qInfo() << "updater not started:" << updater;
}

#include "DataFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/platform.h"

namespace {
QString& storedPath() {
  static QString path;
  return path;
}
}  // namespace

namespace DataFolder {

void setPath(const QString& path) {
  QString p = path;
  if (!p.endsWith('/'))
    p += '/';
  storedPath() = p;
}

QString path() {
  if (storedPath().isEmpty())
    setPath(QString::fromStdString(platform::userDataDir()));
  return storedPath();
}

QString filePath(const QString& name) {
  return path() + name;
}

bool removeRecursively(const QString& path) {
  if (path.isEmpty())
    return false;
  QDir dir(path);
  if (!dir.exists())
    return true;
  const QFileInfoList entries = dir.entryInfoList(
      QDir::Dirs | QDir::Files | QDir::Drives | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
  for (const QFileInfo& entry : entries) {
    // A link to a folder is removed as a link; its target is not ours to empty.
    if (entry.isDir() && !entry.isSymLink())
      removeRecursively(entry.absoluteFilePath());
    else
      QFile::remove(entry.absoluteFilePath());
  }
  // Only the folder itself: its parents are not ours, even when empty.
  return QDir().rmdir(dir.absolutePath());
}

}  // namespace DataFolder

#include "ChatFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include "DataFolder.h"

namespace chat {

QString userFolder(quint32 roomId, quint32 userId, const QString& root) {
  const QString name = QStringLiteral("chatTemp/%1/%2").arg(roomId).arg(userId);
  if (root.isEmpty())
    return DataFolder::filePath(name);
  return root.endsWith(QLatin1Char('/')) ? root + name : root + QLatin1Char('/') + name;
}

QString ownPictureName(const QString& chosenFile, const QDateTime& now) {
  return now.toString(QStringLiteral("yyyyMMdd_hhmmsszzz.")) +
         QFileInfo(chosenFile).suffix().toLower();
}

QString ownClipName(const QDateTime& now) {
  return now.toString(QStringLiteral("yyyyMMdd_hhmmsszzz")) + QStringLiteral(".qn");
}

QString thumbnailName(const QString& pictureName) {
  const int dot = pictureName.lastIndexOf(QLatin1Char('.'));
  if (dot < 0)
    return pictureName + QStringLiteral("_lite");
  return pictureName.left(dot) + QStringLiteral("_lite") + pictureName.mid(dot);
}

QString thumbnailPath(const QString& picturePath) {
  const QFileInfo info(picturePath);
  return info.dir().filePath(thumbnailName(info.fileName()));
}

QSize thumbnailSize(const QSize& picture) {
  if (picture.width() <= 0 || picture.height() <= 0)
    return QSize();
  const double ratio = double(picture.height()) / double(picture.width());
  const int width = ratio > 1.7777777777777777 ? 90 : 160;
  return QSize(width, static_cast<int>(ratio * width));
}

QSize displaySize(const QSize& picture) {
  if (picture.width() <= kThumbnailFrom)
    return picture;
  return thumbnailSize(picture);
}

PictureFormat sniffPicture(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return PictureFormat::kUnreadable;
  const QByteArray head = file.read(2);
  if (head.size() < 2)
    return PictureFormat::kOther;
  if (uchar(head[0]) == 0x89 && head[1] == 'P')
    return PictureFormat::kPng;
  if (uchar(head[0]) == 0xFF && uchar(head[1]) == 0xD8)
    return PictureFormat::kJpeg;
  return PictureFormat::kOther;
}

QString normalisePictureSuffix(const QString& path) {
  const QFileInfo info(path);
  const QString suffix = info.suffix().toLower();
  QString wanted;
  switch (sniffPicture(path)) {
    case PictureFormat::kPng:
      if (suffix == QLatin1String("png"))
        return path;
      wanted = QStringLiteral("png");
      break;
    case PictureFormat::kJpeg:
      if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return path;
      wanted = QStringLiteral("jpg");
      break;
    default:
      return QString();
  }
  const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
  const QString renamed = info.dir().filePath(base + QLatin1Char('.') + wanted);
  if (QFileInfo::exists(renamed))
    QFile::remove(renamed);  // an earlier rename of the same file
  return QFile::rename(path, renamed) ? renamed : QString();
}

QSize declaredPictureSize(const QString& path) {
  QImageReader reader(path);
  reader.setDecideFormatFromContent(true);
  return reader.canRead() ? reader.size() : QSize();
}

bool tooLargePicture(const QSize& size) {
  return size.isValid() && (size.width() > kMaxPictureSide || size.height() > kMaxPictureSide ||
                            qint64(size.width()) * size.height() > kMaxPicturePixels);
}

QSize checkedPictureSize(const QString& path) {
  const QSize size = declaredPictureSize(path);
  return size.isValid() && !tooLargePicture(size) ? size : QSize();
}

}  // namespace chat

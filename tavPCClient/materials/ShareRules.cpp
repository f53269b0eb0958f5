#include "ShareRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QJsonValue>

namespace share {

QStringList templatePaths() {
  return {QStringLiteral("./wbtemplete/whitepaper.png"),
          QStringLiteral("./wbtemplete/charactergrid.png"),
          QStringLiteral("./wbtemplete/pinyin.png"),
          QStringLiteral("./wbtemplete/stationery.png"),
          QStringLiteral("./wbtemplete/english.png"),
          QStringLiteral("./wbtemplete/footsteps.png")};
}

QString blankBoardPath() {
  return templatePaths().first();
}

QSize sharedSize(const QSize& source) {
  if (source.width() <= kMaxWidth && source.height() <= kMaxHeight)
    return source;
  const int width = source.height() > source.width() ? 1080 : 1920;
  // 64-bit on the way: a huge picture must not overflow the product.
  const qint64 height = qint64(source.height()) * width / source.width();
  return QSize(width, int(height));
}

QString sharedPictureName(quint32 ownUserId, const QDateTime& now, const QString& sourcePath) {
  return QString::number(ownUserId) + now.toString(QStringLiteral("yyyyMMddhhmmsszzz")) +
         QLatin1Char('.') + QFileInfo(sourcePath).suffix();
}

bool tooLargeToShare(const QString& sourcePath) {
  QImageReader reader(sourcePath);
  reader.setDecideFormatFromContent(true);
  const QSize size = reader.canRead() ? reader.size() : QSize();
  return size.isValid() && (size.width() > kMaxSourceSide || size.height() > kMaxSourceSide ||
                            qint64(size.width()) * size.height() > kMaxSourcePixels);
}

QString preparePicture(const QString& sourcePath, const QString& folder, const QString& name) {
  QImageReader reader(sourcePath);
  reader.setAutoTransform(false);
  const QByteArray format = reader.format();
  const QImage picture = reader.read();
  if (picture.isNull() || !QDir().mkpath(folder))
    return QString();
  const QString target = QDir(folder).filePath(name);
  const QSize size = sharedSize(picture.size());
  if (size == picture.size()) {
    QFile::remove(target);
    return QFile::copy(sourcePath, target) ? target : QString();
  }
  const QImage scaled = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return scaled.save(target, format.isEmpty() ? nullptr : format.constData()) ? target : QString();
}

int rotatedForward(int angle) {
  const int next = angle + 90;
  return next >= 360 ? next - 360 : next;
}

int rotatedBack(int angle) {
  const int next = angle - 90;
  return next < 0 ? next + 360 : next;
}

PageTurn nextPage(int current, int total) {
  if (current + 1 > total)
    return {total, false};
  return {current + 1, true};
}

PageTurn previousPage(int current) {
  if (current - 1 < 1)
    return {1, false};
  return {current - 1, true};
}

PageTurn goToPage(int index, int total) {
  const int page = index + 1;
  if (page < 1)
    return {1, false};
  if (page > total)
    return {total, false};
  return {page, true};
}

QRect visibleRect(const QSize& pictureSize, const QSize& areaSize, const QPoint& topLeft) {
  const int width = qMax(0, qMin(pictureSize.width(), areaSize.width()));
  const int height = qMax(0, qMin(pictureSize.height(), areaSize.height()));
  const int x = qBound(0, topLeft.x(), pictureSize.width() - width);
  const int y = qBound(0, topLeft.y(), pictureSize.height() - height);
  return QRect(x, y, width, height);
}

std::optional<QRect> dragged(const QRect& visible, int dx, int dy, const QSize& pictureSize) {
  const QRect moved = visible.translated(-dx, -dy);
  if (moved.left() < 0 || moved.top() < 0 || moved.right() >= pictureSize.width() ||
      moved.bottom() >= pictureSize.height())
    return std::nullopt;
  return moved;
}

QRect placedRect(Placement placement, const QSize& picture, const QSize& area) {
  if (picture.isEmpty())
    return QRect();
  switch (placement) {
    case kStretched:
      return QRect(QPoint(0, 0), area);
    case kFitted: {
      const QSize fitted = picture.scaled(area, Qt::KeepAspectRatio);
      return QRect(
          QPoint((area.width() - fitted.width()) / 2, (area.height() - fitted.height()) / 2),
          fitted);
    }
    case kAtActualSize:
      return QRect(QPoint((area.width() - picture.width()) / 2,
                          (area.height() - picture.height()) / 2),
                   picture)
          .intersected(QRect(QPoint(0, 0), area));
  }
  return QRect();
}

Presentation presentation(bool picture, int displayMode, const QRect& visible,
                          const QSize& rotated) {
  const QRect whole(QPoint(0, 0), rotated);
  if (!picture)
    return {whole, kStretched};
  if (displayMode == kActual) {
    const QRect part = visible.intersected(whole);
    return {part.isEmpty() ? whole : part, kAtActualSize};
  }
  return {whole, kFitted};
}

QJsonObject rectJson(const QRect& rect) {
  return QJsonObject{{QStringLiteral("x"), rect.x()},
                     {QStringLiteral("y"), rect.y()},
                     {QStringLiteral("width"), rect.width()},
                     {QStringLiteral("height"), rect.height()}};
}

QRect rectOf(const QJsonObject& msg) {
  const QJsonValue nested = msg.value(QStringLiteral("rect"));
  const QJsonObject r = nested.isObject() ? nested.toObject() : msg;
  auto number = [&r](const char* key) {
    const QJsonValue v = r.value(QLatin1String(key));
    return v.isString() ? v.toString().toInt() : v.toInt();
  };
  return QRect(number("x"), number("y"), qMax(0, number("width")), qMax(0, number("height")));
}

}  // namespace share

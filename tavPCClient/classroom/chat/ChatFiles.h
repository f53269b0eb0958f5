// Where chat pictures and clips live on disk and the picture rules: names,
// thumbnails, display sizes, and what a picture file really is before it is
// decoded.
#pragma once

#include <QDateTime>
#include <QSize>
#include <QString>

namespace chat {

// "<data>/chatTemp/<room>/<user>": own pictures and clips, and files received
// from that user; <data> is the per-user data folder unless root names another.
QString userFolder(quint32 roomId, quint32 userId, const QString& root = QString());
// "yyyyMMdd_hhmmsszzz." + the suffix in lower case.
QString ownPictureName(const QString& chosenFile, const QDateTime& now);
// "yyyyMMdd_hhmmsszzz.qn"
QString ownClipName(const QDateTime& now);
// The thumbnail beside a picture: "<base>_lite.<suffix>" (a name without a
// suffix gets "_lite" appended).
QString thumbnailName(const QString& pictureName);
QString thumbnailPath(const QString& picturePath);

// Thumbnail size of a picture wider than 90: 90 wide when taller than 9:16,
// else 160; the height from the ratio, truncated.
QSize thumbnailSize(const QSize& picture);
// Size a picture is shown at: natural up to 90 wide, else the thumbnail size.
QSize displaySize(const QSize& picture);
// Pictures wider than this get a thumbnail.
inline constexpr int kThumbnailFrom = 90;

// What a picture file holds judged by its first bytes.
enum class PictureFormat { kPng, kJpeg, kOther, kUnreadable };
PictureFormat sniffPicture(const QString& path);

// Gives a PNG a ".png" and a JPEG a ".jpg" suffix (".jpeg" kept) by renaming
// the file; the path it has afterwards, or empty for any other content (or
// when the rename fails).
QString normalisePictureSuffix(const QString& path);

// Largest picture decoded: pictures are checked against this from their
// header before any pixel is allocated.
inline constexpr int kMaxPictureSide = 8192;
inline constexpr qint64 kMaxPicturePixels = 40LL * 1000 * 1000;
// The size declared in the picture's header, or an invalid size when the file
// is not a picture Qt reads or declares more than the limits above.
QSize checkedPictureSize(const QString& path);
// The size the header declares, limits aside (invalid when not a picture).
QSize declaredPictureSize(const QString& path);
// Above the limits: such a picture is refused with its own words, not as a failure.
bool tooLargePicture(const QSize& size);

}  // namespace chat

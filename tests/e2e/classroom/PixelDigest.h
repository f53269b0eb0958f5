// A picture's pixels in a few hex digits, to compare what two windows show.
#pragma once

#include <QCryptographicHash>
#include <QImage>
#include <QString>

namespace testsupport {

inline QString pixelDigest(const QImage& picture) {
  const QImage image = picture.convertToFormat(QImage::Format_RGB32);
  if (image.isNull())
    return QStringLiteral("none");
  QCryptographicHash hash(QCryptographicHash::Sha1);
  for (int y = 0; y < image.height(); ++y)
    hash.addData(reinterpret_cast<const char*>(image.constScanLine(y)), image.width() * 4);
  return QString::fromLatin1(hash.result().toHex().left(12));
}

}  // namespace testsupport

#include "QrImage.h"

#include <qrencode.h>

namespace qr {

namespace {
constexpr int kQuietZone = 4;
}

QImage qrImage(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  if (utf8.isEmpty())
    return QImage();
  QRcode* code = QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
  if (!code)
    return QImage();
  const int side = code->width + 2 * kQuietZone;
  QImage image(side, side, QImage::Format_Grayscale8);
  image.fill(255);
  for (int y = 0; y < code->width; ++y) {
    uchar* row = image.scanLine(y + kQuietZone);
    for (int x = 0; x < code->width; ++x)
      if (code->data[y * code->width + x] & 1)
        row[x + kQuietZone] = 0;
  }
  QRcode_free(code);
  return image;
}

}  // namespace qr

#include "QrReader.h"

#include <zbar.h>

#include <QDebug>
#include <QImageReader>
#include <memory>
#include <vector>

namespace {

// Camera photos are far larger than a code needs; screenshots of a code
// drawn one pixel per module are too small for the scanner's finder.
constexpr int kLargestSide = 2000;
constexpr int kSmallestSide = 300;

QImage scannable(const QImage& picture) {
  QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
  const int longest = qMax(grey.width(), grey.height());
  const int shortest = qMin(grey.width(), grey.height());
  if (longest > kLargestSide)
    return grey.scaled(kLargestSide, kLargestSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  if (shortest > 0 && shortest < kSmallestSide) {
    const int factor = (kSmallestSide + shortest - 1) / shortest;
    // Whole pixels per module, no smoothing: the modules stay square and sharp.
    return grey.scaled(grey.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  }
  return grey;
}

}  // namespace

QString QrReader::read(const QImage& picture) {
  if (picture.isNull())
    return QString();
  using namespace zbar;  // the C interface, which the header puts there for C++
  const QImage grey = scannable(picture);
  const int w = grey.width(), h = grey.height();
  // ZBar wants rows without the padding QImage keeps.
  std::vector<unsigned char> pixels(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    std::copy_n(grey.constScanLine(y), w, pixels.begin() + ptrdiff_t(y) * w);

  std::unique_ptr<zbar_image_scanner_t, void (*)(zbar_image_scanner_t*)> scanner(
      zbar_image_scanner_create(), zbar_image_scanner_destroy);
  zbar_image_scanner_set_config(scanner.get(), ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
  zbar_image_scanner_set_config(scanner.get(), ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
  std::unique_ptr<zbar_image_t, void (*)(zbar_image_t*)> image(zbar_image_create(),
                                                               zbar_image_destroy);
  zbar_image_set_format(image.get(), zbar_fourcc('Y', '8', '0', '0'));
  zbar_image_set_size(image.get(), unsigned(w), unsigned(h));
  zbar_image_set_data(image.get(), pixels.data(), pixels.size(), nullptr);
  if (zbar_scan_image(scanner.get(), image.get()) <= 0)
    return QString();
  for (const zbar_symbol_t* symbol = zbar_image_first_symbol(image.get()); symbol;
       symbol = zbar_symbol_next(symbol)) {
    if (zbar_symbol_get_type(symbol) != ZBAR_QRCODE)
      continue;
    return QString::fromUtf8(zbar_symbol_get_data(symbol),
                             int(zbar_symbol_get_data_length(symbol)));
  }
  return QString();
}

QString QrReader::readFile(const QString& path, QString* error) {
  QImageReader reader(path);
  reader.setAutoTransform(true);  // photos taken sideways
  const QImage picture = reader.read();
  if (picture.isNull()) {
    qWarning() << "QR picture" << path << "not read:" << reader.errorString();
    if (error)
      *error = QStringLiteral("无法打开这张图片");
    return QString();
  }
  const QString text = read(picture);
  if (text.isEmpty() && error)
    *error = QStringLiteral("图片中没有找到二维码");
  return text;
}

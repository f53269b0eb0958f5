#include "GenerateQR.h"

#include "QrImage.h"

GenerateQR::GenerateQR(const QString& text, int side, QObject* parent)
    : QThread(parent), text_(text), side_(side) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void GenerateQR::run() {
  const QImage code = qr::qrImage(text_);
  if (code.isNull()) {
    emit signal_QRImage(code);
    return;
  }
  // Whole pixels per module keep every module square and the code readable.
  const int scale = qMax(1, side_ / code.width());
  emit signal_QRImage(
      code.scaled(code.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation));
}

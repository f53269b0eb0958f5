// A QR code as a picture: one pixel per module, black on white, with the
// quiet zone readers need around it. Scale it by whole pixels (no smoothing)
// so every module stays square.
#pragma once

#include <QImage>
#include <QString>

namespace qr {

// Null when the text is empty or too long for a QR code.
QImage qrImage(const QString& text);

}  // namespace qr

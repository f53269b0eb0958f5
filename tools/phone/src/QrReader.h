// Reads the pairing QR code from a picture (a photo or a screenshot of the
// PC's code), with ZBar.
#pragma once

#include <QImage>
#include <QString>

class QrReader {
public:
  // The text of the first QR code found; empty when there is none.
  static QString read(const QImage& picture);
  // The same from a picture file; on failure empty, with *error saying why
  // in words for the user.
  static QString readFile(const QString& path, QString* error = nullptr);
};

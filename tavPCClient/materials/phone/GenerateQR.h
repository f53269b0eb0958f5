// Draws a QR code off the GUI thread: the picture arrives by signal_QRImage,
// then the thread deletes itself.
#pragma once

#include <QImage>
#include <QString>
#include <QThread>

class GenerateQR : public QThread {
  Q_OBJECT

public:
  // side: the size wanted; the code is scaled by whole pixels per module up to it.
  GenerateQR(const QString& text, int side, QObject* parent = nullptr);

signals:
  void signal_QRImage(QImage image);

protected:
  void run() override;

private:
  const QString text_;
  const int side_;
};

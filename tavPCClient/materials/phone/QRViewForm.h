// The pairing form: the QR code the phone assistant scans (the addresses and
// port of the classroom's phone server, and the pairing secret), and the
// same addresses as text for typing them in.
#pragma once

#include <QImage>
#include <QWidget>

class QLabel;

class QRViewForm : public QWidget {
  Q_OBJECT

public:
  explicit QRViewForm(QWidget* parent = nullptr);

  // Shows text as a QR code (drawn off the GUI thread) and the addresses below it.
  void setText(const QString& text, const QString& addresses);
  QString text() const { return text_; }

private:
  void onQRImage(const QImage& image);

  QLabel* code_;
  QLabel* addresses_;
  QString text_;
  int generation_ = 0;
};

// The first page: the pairing text from the PC's QR code, read from a
// picture of the code or typed in.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

class PairingPage : public QWidget {
  Q_OBJECT
public:
  explicit PairingPage(QWidget* parent = nullptr);

  QLineEdit* textEdit() const { return edit_; }
  // A line under the buttons; an error is shown in red.
  void setStatus(const QString& text, bool error = false);
  QString status() const;
  // While connecting the buttons wait.
  void setBusy(bool busy);

signals:
  void pairRequested(const QString& text);

private:
  // On a phone this is the camera; here a picture file.
  void scanQrPicture();

  QLineEdit* edit_;
  QPushButton* scan_;
  QPushButton* connect_;
  QLabel* status_;
};

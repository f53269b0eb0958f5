// Sharing the room: its link as text with a copy button, the same link as a
// QR code to scan with a phone, and a line saying what sharing brings.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;

class ShareLinkDialog : public QDialog {
  Q_OBJECT

public:
  ShareLinkDialog(const QString& link, const QString& text, QWidget* parent = nullptr);

  QString link() const { return link_; }

public slots:
  void slot_CopyLink();

private:
  const QString link_;
  QLabel* copied_;
};

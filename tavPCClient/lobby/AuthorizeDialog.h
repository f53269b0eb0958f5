// Asks for the access code of a private room; accepts only the room's code.
#pragma once

#include <QDialog>

class QLineEdit;

class AuthorizeDialog : public QDialog {
  Q_OBJECT

public:
  explicit AuthorizeDialog(const QString& authCode, QWidget* parent = nullptr);

  QLineEdit* codeEdit() const { return code_; }

public slots:
  void slot_ButtonOK();

private:
  QString authCode_;
  QLineEdit* code_;
};

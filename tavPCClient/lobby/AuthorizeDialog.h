// Asks for the access code of a private room. The service judges the code: the
// dialog hands on what was typed (signal_CodeEntered) and, told that it is
// wrong, says so and stays open; whoever checked it accepts the dialog.
#pragma once

#include <QDialog>

class QLineEdit;

class AuthorizeDialog : public QDialog {
  Q_OBJECT

public:
  explicit AuthorizeDialog(QWidget* parent = nullptr);

  QLineEdit* codeEdit() const { return code_; }
  QString code() const;

signals:
  void signal_CodeEntered(QString code);

public slots:
  void slot_ButtonOK();
  // The code was not the room's.
  void slot_CodeRefused();

private:
  QLineEdit* code_;
};

// The first window of the client: remembered accounts, password, login,
// register and short-message login.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class LoginDialog : public QDialog {
  Q_OBJECT

 public:
  explicit LoginDialog(QWidget* parent = nullptr);

  QComboBox* accountBox() const { return account_; }
  QLineEdit* passwordEdit() const { return password_; }
  QPushButton* loginButton() const { return login_; }
  QLabel* statusLabel() const { return status_; }

 private:
  QComboBox* account_;
  QLineEdit* password_;
  QPushButton* login_;
  QPushButton* register_;
  QPushButton* shortMessage_;
  QPushButton* minimize_;
  QPushButton* close_;
  QLabel* status_;
};

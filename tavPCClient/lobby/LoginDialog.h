// The first window of the client: remembered accounts, password, login,
// register and short-message login.
#pragma once

#include <QDialog>
#include <QJsonObject>
#include <QList>
#include <QPointer>

#include "AccountStore.h"

class QComboBox;
class UserDialog;
class QLabel;
class QLineEdit;
class QPushButton;

class LoginDialog : public QDialog {
  Q_OBJECT

public:
  explicit LoginDialog(QWidget* parent = nullptr);

  // The process-wide login window (null before start-up made one).
  static LoginDialog* current();
  static void setCurrent(LoginDialog* dialog);
  // Closes the current login window and shows a fresh one (log off).
  static LoginDialog* replaceCurrent();

  QComboBox* accountBox() const { return account_; }
  QLineEdit* passwordEdit() const { return password_; }
  QPushButton* loginButton() const { return login_; }
  QLabel* statusLabel() const { return status_; }
  // The lobby opened by the last successful login (null before, or once closed).
  UserDialog* lobby() const;

public slots:
  void slot_ButtonLogin();
  void slot_login_reply(QJsonObject answer);
  void slot_currentIndexChanged(int index);
  void slot_editTextChanged(const QString& text);
  void slot_ButtonRegister();
  void slot_ButtonShortMessage();
  void slot_jidiao();

  // The line under the form (a failure, or why the user has to sign in again).
  void showStatus(const QString& text);

private:
  void loadAccounts();

  QList<AccountRecord> accounts_;
  QPointer<QDialog> lobby_;
  QComboBox* account_;
  QLineEdit* password_;
  QPushButton* login_;
  QPushButton* register_;
  QPushButton* shortMessage_;
  QPushButton* minimize_;
  QPushButton* close_;
  QLabel* status_;
};

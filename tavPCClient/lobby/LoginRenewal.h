// Gets the one-login channel a credential again when the message server refuses
// the one the lobby has (it expired, or the servers' key was replaced): a fresh
// one for the login's ticket, and when the ticket itself is gone, a new login
// with the account remembered on this machine. LoginInfo::current() follows.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

class LoginRenewal : public QObject {
  Q_OBJECT

public:
  explicit LoginRenewal(QObject* parent = nullptr) : QObject(parent) {}

  // One renewal at a time: asking again while one is under way does nothing.
  void renew();
  bool busy() const { return busy_; }

signals:
  // LoginInfo holds the new credential, and the message server the service names now.
  void renewed();
  // The service could not be reached: try again later.
  void unreachable();
  // The login cannot be renewed; the user must sign in again (why: to be shown).
  void signInNeeded(QString why);

private:
  void onCredential(const QJsonObject& answer);
  void signInAgain();
  void onLogin(const QJsonObject& answer);
  void finish();
  void keepServer(const QJsonObject& answer);

  bool busy_ = false;
};

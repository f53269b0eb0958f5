// Who is signed in: set by a successful login, read by every later request.
// Only touched from the GUI thread.
#pragma once

#include <QString>

struct LoginInfo {
  quint32 userId = 0;
  QString userIdText;  // the same id in decimal
  QString ticket;
  QString displayName;  // nickname, or phone when the nickname is empty
  QString roleName;
  qint64 orgId = 0;
  QString avatarPath;
  QString oneLoginServer;  // "host:port" of the one-login channel
  // The service's signed word that this user may use the one-login channel.
  QString oneLoginCredential;
  // Set when the lobby closed because the account signed in elsewhere;
  // cleared by every successful login.
  bool loggedInElsewhere = false;

  static LoginInfo& current();
};

// The machine's own IPv4 address as announced on the one-login channel: the
// last non-loopback IPv4 address of all interfaces, or "127.0.0.1".
QString ownIPv4Address();

#include "LoginInfo.h"

#include <QHostAddress>
#include <QNetworkInterface>

LoginInfo& LoginInfo::current() {
  static LoginInfo info;
  return info;
}

QString ownIPv4Address() {
  QString result;
  for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
    if (address == QHostAddress(QHostAddress::LocalHost)) continue;
    bool isIPv4 = false;
    const quint32 value = address.toIPv4Address(&isIPv4);
    if (isIPv4 && value != 0) result = QHostAddress(value).toString();
  }
  return result.isEmpty() ? QStringLiteral("127.0.0.1") : result;
}

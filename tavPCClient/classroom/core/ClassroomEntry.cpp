#include "ClassroomEntry.h"

ServerAddress ServerAddress::parse(const QString& text) {
  ServerAddress address;
  const int colon = text.lastIndexOf(':');
  if (colon < 0) {
    address.host = text;
    return address;
  }
  address.host = text.left(colon);
  bool ok = false;
  const int port = text.mid(colon + 1).toInt(&ok);
  if (ok && port > 0 && port <= 65535)
    address.port = port;
  return address;
}

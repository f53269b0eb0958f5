// The paired phone as other parts reach it: offered while a phone is linked.
#pragma once

#include <QJsonObject>

class PhoneLink {
public:
  virtual ~PhoneLink() = default;
  // One message to the phone (its framing is the link's).
  virtual void sendToPhone(const QJsonObject& msg) = 0;
};

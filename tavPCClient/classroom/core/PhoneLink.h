// The paired phone as other parts reach it: offered while a phone assistant
// is paired (its link may be waiting for the phone or connected; what is
// sent while no phone is connected is dropped).
#pragma once

#include <QJsonObject>
#include <QString>

class PhoneLink {
public:
  virtual ~PhoneLink() = default;
  // A board message (strokes, tools, the start and end of writing). GUI thread,
  // like the others.
  virtual void sendToPhone(const QJsonObject& msg) = 0;
  // A share-control message (share state, rotation, page turn).
  virtual void sendShareControl(const QJsonObject& msg) = 0;
  // The file the shared area shows now.
  virtual void sendShownFile(const QString& path) = 0;
};

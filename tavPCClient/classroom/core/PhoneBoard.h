// The whiteboard as the phone link reaches it: what the phone draws joins
// the board (sent to everybody as the own member's), and the phone may ask
// for the board as it stands.
#pragma once

#include <QJsonObject>
#include <QList>

class PhoneBoard {
public:
  virtual ~PhoneBoard() = default;
  // A board message drawn on the phone: stamped with the own id, sent to
  // everybody and applied here.
  virtual void boardMessageFromPhone(const QJsonObject& msg) = 0;
  // The pen, every shape and the shape being drawn (no "sendUserId"); empty
  // when nobody writes and nothing is drawn.
  virtual QList<QJsonObject> boardForPhone() = 0;
};

#include "PhoneCanvasLink.h"

#include "RoomMessage.h"

PhoneCanvasLink::PhoneCanvasLink(vw::VWSharedPictureDisplay* display, QObject* parent)
    : QObject(parent), display_(display) {}

int PhoneCanvasLink::sendRoomJson(const QJsonObject& msg, const QString& target) {
  Q_UNUSED(target);  // the PC decides who gets it
  // The canvas's tool notice (a string type) only repeats a choice the PC made.
  if (roommsg::hasStringTypeId(msg))
    return 0;
  emit boardMessage(msg);
  return 0;
}

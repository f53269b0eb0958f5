// Helpers for reading and building room messages. Everything here accepts
// untrusted objects: a value of the wrong JSON type reads as "absent".
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QtGlobal>
#include <optional>

#include "RoomMessageTypes.h"

namespace roommsg {

// Longest message text sent or accepted; longer texts are dropped unread.
// Generous, because a whiteboard shape carries every point of a stroke.
inline constexpr int kMaxMessageBytes = 4 * 1024 * 1024;

// Catalogue membership of a type (the one-login announce is not a room type).
bool isRoomType(int typeId);
bool isAnnoType(int typeId);

// Routing rule of the room send: hand, assistant and every type above 70
// except the room type change travel on the peer path.
bool routesOnPeerPath(int typeId);

// "typeId" as an integer, whether written as a decimal string or as a number;
// empty when missing, negative, fractional or not a number at all.
std::optional<int> typeIdOf(const QJsonObject& msg);
// Room types are written as strings, annotation types as numbers.
bool hasStringTypeId(const QJsonObject& msg);

// A user id given as a number or as a string of decimal digits ("42" == 42);
// empty when missing or out of the unsigned 32-bit range.
std::optional<quint32> userIdOf(const QJsonValue& value);
inline std::optional<quint32> senderOf(const QJsonObject& msg) {
  return userIdOf(msg.value(KEY_SEND_USER_ID));
}

// A message target: "*" for everybody or a user id in decimal; anything else is invalid.
struct Target {
  bool valid = false;
  bool all = false;
  quint32 userId = 0;
};
Target parseTarget(const QString& target);

// {"typeId": ...} with the JSON type of its family.
QJsonObject newMessage(int typeId);

// The sender's fields that chat, hand, gift, medal, removal, mute and
// courseware messages carry, filled in one step before sending.
struct SenderFields {
  quint32 userId = 0;
  QString userName;
  QString userImg;
  int role = 0;
  quint32 roomId = 0;
};
void stampSender(QJsonObject& msg, const SenderFields& sender,
                 const QDateTime& now = QDateTime::currentDateTime());

// Wire text: compact UTF-8 JSON without line feeds.
QByteArray serialize(const QJsonObject& msg);

// The object in text, or empty (and a log line saying why) when the text is
// too long, not JSON or not a JSON object. Trailing NUL bytes are ignored.
std::optional<QJsonObject> parseObject(QByteArray text);

}  // namespace roommsg

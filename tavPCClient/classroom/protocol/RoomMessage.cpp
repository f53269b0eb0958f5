#include "RoomMessage.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>
#include <limits>

namespace roommsg {

namespace {

// An integral JSON number within [0, max].
std::optional<quint64> wholeNumber(double d, quint64 max) {
  if (!std::isfinite(d) || d < 0 || d > double(max) || std::floor(d) != d)
    return std::nullopt;
  return quint64(d);
}

// Only plain decimal digits: no sign, blanks or hex that QString::toUInt would take.
std::optional<quint64> decimalDigits(const QString& s, quint64 max) {
  if (s.isEmpty() || s.size() > 10)
    return std::nullopt;
  quint64 v = 0;
  for (QChar c : s) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9'))
      return std::nullopt;
    v = v * 10 + quint64(c.unicode() - '0');
  }
  if (v > max)
    return std::nullopt;
  return v;
}

std::optional<quint64> wholeValue(const QJsonValue& v, quint64 max) {
  if (v.isDouble())
    return wholeNumber(v.toDouble(), max);
  if (v.isString())
    return decimalDigits(v.toString(), max);
  return std::nullopt;
}

}  // namespace

bool isRoomType(int t) {
  switch (t) {
    case MSG_CHAT_TEXT:
    case MSG_CHAT_PICTURE:
    case MSG_CHAT_VOICE:
    case MSG_HAND:
    case MSG_GIFT:
    case MSG_MEDAL:
    case MSG_ASSISTANT:
    case MSG_KICK_OUT:
    case MSG_MUTE:
    case MSG_ANNOUNCEMENT_TITLE:
    case MSG_BLANK_WHITEBOARD:
    case MSG_TOOL_REVOKED:
    case MSG_COURSEWARE_STATUS:
    case MSG_DOC_DELETED:
    case MSG_DOC_ADDED:
    case MSG_ROOM_TYPE:
      return true;
    default:
      return t >= MSG_SHARE_STATE_QUERY && t <= MSG_PHONE_ASSISTANT;
  }
}

bool isAnnoType(int t) {
  return (t >= ANNO_POINT && t <= ANNO_SHAPE) || t == ANNO_PEN;
}

bool routesOnPeerPath(int t) {
  return t == MSG_HAND || t == MSG_ASSISTANT || (t > MSG_DOC_ADDED && t != MSG_ROOM_TYPE);
}

std::optional<int> typeIdOf(const QJsonObject& msg) {
  const auto v = wholeValue(msg.value(KEY_TYPE_ID), quint64(std::numeric_limits<int>::max()));
  if (!v)
    return std::nullopt;
  return int(*v);
}

bool hasStringTypeId(const QJsonObject& msg) {
  return msg.value(KEY_TYPE_ID).isString();
}

std::optional<quint32> userIdOf(const QJsonValue& value) {
  const auto v = wholeValue(value, std::numeric_limits<quint32>::max());
  if (!v)
    return std::nullopt;
  return quint32(*v);
}

Target parseTarget(const QString& target) {
  Target t;
  if (target == QLatin1String(TARGET_ALL)) {
    t.valid = t.all = true;
    return t;
  }
  if (const auto id = decimalDigits(target, std::numeric_limits<quint32>::max())) {
    t.valid = true;
    t.userId = quint32(*id);
  }
  return t;
}

QJsonObject newMessage(int typeId) {
  QJsonObject msg;
  if (isAnnoType(typeId))
    msg.insert(KEY_TYPE_ID, typeId);
  else
    msg.insert(KEY_TYPE_ID, QString::number(typeId));
  return msg;
}

void stampSender(QJsonObject& msg, const SenderFields& sender, const QDateTime& now) {
  msg.insert(KEY_MSG_SEND_TIME, now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
  msg.insert(KEY_SEND_USER_ID, double(sender.userId));
  msg.insert(KEY_SEND_USERNAME, sender.userName);
  msg.insert(KEY_SEND_USER_ROLE, QString::number(sender.role));
  msg.insert(KEY_SEND_USER_IMG, sender.userImg);
  msg.insert(KEY_ROOM_ID, QString::number(sender.roomId));
}

QByteArray serialize(const QJsonObject& msg) {
  // Compact output has no line feeds of its own; those inside strings are escaped.
  QByteArray text = QJsonDocument(msg).toJson(QJsonDocument::Compact);
  text.replace('\n', QByteArray());
  return text;
}

std::optional<QJsonObject> parseObject(QByteArray text) {
  if (text.size() > kMaxMessageBytes) {
    qWarning() << "room message dropped: too long," << text.size() << "bytes";
    return std::nullopt;
  }
  while (text.endsWith('\0'))
    text.chop(1);
  QJsonParseError err{};
  const QJsonDocument doc = QJsonDocument::fromJson(text, &err);
  if (err.error != QJsonParseError::NoError) {
    qWarning() << "room message dropped: not JSON:" << err.errorString() << "at" << err.offset;
    return std::nullopt;
  }
  if (!doc.isObject()) {
    qWarning() << "room message dropped: not a JSON object";
    return std::nullopt;
  }
  return doc.object();
}

}  // namespace roommsg

#include "RoomMessenger.h"

#include <QDebug>
#include <QMutexLocker>
#include <cstring>
#include <limits>

namespace {

// Beyond this many senders the index memory starts over, so a stream of forged
// sender ids cannot grow it without bound.
constexpr int kMaxIndexedSenders = 4096;

// "index" as a whole number (number or digit string); empty when absent or unusable.
std::optional<qint64> indexOf(const QJsonObject& msg) {
  const QJsonValue v = msg.value(KEY_INDEX);
  if (v.isUndefined() || v.isNull())
    return std::nullopt;
  if (v.isString()) {
    bool ok = false;
    const qint64 i = v.toString().toLongLong(&ok);
    if (ok)
      return i;
  } else if (v.isDouble()) {
    const double d = v.toDouble();
    // Exactly representable integers only, so equal indexes compare equal.
    if (d >= -9007199254740992.0 && d <= 9007199254740992.0 && qint64(d) == d)
      return qint64(d);
  }
  qDebug() << "room message index ignored:" << v;
  return std::nullopt;
}

}  // namespace

RoomMessenger::RoomMessenger(quint32 ownUserId, QObject* parent)
    : QObject(parent), ownUserId_(ownUserId) {}

void RoomMessenger::setRoomChannel(RoomChannel* channel) {
  QMutexLocker lock(&sendMutex_);
  channel_ = channel;
}

void RoomMessenger::setPeerPath(RoomPeerPath* peer) {
  QMutexLocker lock(&sendMutex_);
  peer_ = peer;
}

void RoomMessenger::setMediaConnected(bool connected) {
  QMutexLocker lock(&sendMutex_);
  mediaConnected_ = connected;
}

bool RoomMessenger::mediaConnected() const {
  QMutexLocker lock(&sendMutex_);
  return mediaConnected_;
}

std::optional<RoomMessenger::Outgoing> RoomMessenger::prepare(const QJsonObject& msg,
                                                              const QString& target,
                                                              const char* what) {
  Outgoing out;
  const auto typeId = roommsg::typeIdOf(msg);
  if (!typeId) {
    qWarning() << what << "refused: no usable typeId in" << msg;
    return std::nullopt;
  }
  out.typeId = *typeId;
  out.target = roommsg::parseTarget(target);
  if (!out.target.valid) {
    qWarning() << what << "refused: bad target" << target << "for type" << out.typeId;
    return std::nullopt;
  }
  out.text = roommsg::serialize(msg);
  if (out.text.size() > roommsg::kMaxMessageBytes) {
    qWarning() << what << "refused: type" << out.typeId << "is" << out.text.size() << "bytes";
    return std::nullopt;
  }
  return out;
}

int RoomMessenger::sendRoomMsg(const QJsonObject& msg, const QString& target) {
  const auto out = prepare(msg, target, "room send");
  if (!out)
    return -1;
  QMutexLocker lock(&sendMutex_);
  if (roommsg::routesOnPeerPath(out->typeId))
    return sendOnPeerPath(*out);
  if (!channel_) {
    qDebug() << "room send dropped: no room channel for type" << out->typeId;
    return -1;
  }
  channel_->send(out->text, target.toLatin1());
  return 0;
}

int RoomMessenger::sendRoomJson(const QJsonObject& msg, const QString& target) {
  const auto out = prepare(msg, target, "annotation send");
  if (!out)
    return -1;
  QMutexLocker lock(&sendMutex_);
  return sendOnPeerPath(*out);
}

// Called with sendMutex_ held.
int RoomMessenger::sendOnPeerPath(const Outgoing& out) {
  if (!peer_ || !mediaConnected_) {
    qDebug() << "peer send dropped: media server not connected, type" << out.typeId;
    return -1;
  }
  // The byte length of the UTF-8 text, not its character count.
  const auto* data = reinterpret_cast<const uint8_t*>(out.text.constData());
  const auto length = unsigned(out.text.size());
  const int rc = out.target.all ? peer_->send_p2all_msg(data, length)
                                : peer_->send_p2p_msg(out.target.userId, data, length);
  if (rc < 0)
    qDebug() << "peer send refused by the media library:" << rc << "type" << out.typeId;
  return rc;
}

void RoomMessenger::receiveRoomChannelMessage(const char* text) {
  if (!text) {
    qWarning() << "room channel message dropped: null text";
    return;
  }
  // Look no further than one byte past the limit for the terminator.
  const size_t n = strnlen(text, size_t(roommsg::kMaxMessageBytes) + 1);
  if (n > size_t(roommsg::kMaxMessageBytes)) {
    qWarning() << "room channel message dropped: longer than" << roommsg::kMaxMessageBytes;
    return;
  }
  receiveRoomChannelMessage(QByteArray(text, int(n)));
}

void RoomMessenger::receiveRoomChannelMessage(const QByteArray& text) {
  const auto parsed = roommsg::parseObject(text);
  if (!parsed)
    return;
  const QJsonObject& msg = *parsed;
  // Room types are written as strings; a number here is no room message.
  if (!roommsg::hasStringTypeId(msg)) {
    qWarning() << "room channel message dropped: typeId missing or not a string";
    return;
  }
  const auto typeId = roommsg::typeIdOf(msg);
  if (!typeId) {
    qWarning() << "room channel message dropped: typeId" << msg.value(KEY_TYPE_ID);
    return;
  }
  const auto sender = roommsg::senderOf(msg);
  if (!passesIndexFilter(msg, sender))
    return;
  // The server hands our own messages back; only a mute is acted on by its sender too.
  if (sender && *sender == ownUserId_ && *typeId != MSG_MUTE)
    return;
  dispatchRoomMessage(msg);
}

bool RoomMessenger::passesIndexFilter(const QJsonObject& msg, std::optional<quint32> sender) {
  const auto index = indexOf(msg);
  if (!index)
    return true;
  const qint64 key = sender ? qint64(*sender) : -1;
  QMutexLocker lock(&indexMutex_);
  const auto it = lastIndex_.constFind(key);
  if (it != lastIndex_.constEnd() && it.value() == *index) {
    qDebug() << "room message dropped: repeated index" << *index << "from" << key;
    return false;
  }
  if (it == lastIndex_.constEnd() && lastIndex_.size() >= kMaxIndexedSenders) {
    qWarning() << "room message index memory full, starting over";
    lastIndex_.clear();
  }
  lastIndex_.insert(key, *index);
  return true;
}

void RoomMessenger::receivePeerMessage(quint32 senderId, const char* data, unsigned length) {
  if (!data || length == 0) {
    qWarning() << "peer message from" << senderId << "dropped: empty";
    return;
  }
  if (length > unsigned(roommsg::kMaxMessageBytes)) {
    qWarning() << "peer message from" << senderId << "dropped:" << length << "bytes";
    return;
  }
  receivePeerMessage(senderId, QByteArray(data, int(length)));
}

void RoomMessenger::receivePeerMessage(quint32 senderId, const QByteArray& text) {
  const auto parsed = roommsg::parseObject(text);
  if (!parsed) {
    qDebug() << "peer message from" << senderId << "ignored";
    return;
  }
  if (roommsg::hasStringTypeId(*parsed)) {
    dispatchRoomMessage(*parsed);
    return;
  }
  // The media server names the member a peer message came from; a board
  // message speaks for that member whatever its own "sendUserId" claims.
  QJsonObject msg = *parsed;
  const auto claimed = roommsg::senderOf(msg);
  if (!claimed || *claimed != senderId) {
    if (claimed)
      qWarning() << "board message from" << senderId << "claimed to be from" << *claimed;
    msg.insert(KEY_SEND_USER_ID, double(senderId));
  }
  dispatchAnnoMessage(msg);
}

void RoomMessenger::dispatchRoomMessage(const QJsonObject& msg) {
  const auto typeId = roommsg::typeIdOf(msg);
  if (!typeId || !roommsg::isRoomType(*typeId) || !roommsg::hasStringTypeId(msg)) {
    // The whiteboard's tool notice travels as a string type on purpose.
    if (!typeId || !roommsg::isAnnoType(*typeId))
      qDebug() << "room message ignored: type" << msg.value(KEY_TYPE_ID) << "is no room type";
    return;
  }
  emit signal_ChatMsgArrived(msg);
}

void RoomMessenger::dispatchAnnoMessage(const QJsonObject& msg) {
  const auto typeId = roommsg::typeIdOf(msg);
  if (!typeId || !roommsg::isAnnoType(*typeId)) {
    qDebug() << "annotation message ignored: type" << msg.value(KEY_TYPE_ID);
    return;
  }
  emit signal_AnnoMsgArrived(msg);
}

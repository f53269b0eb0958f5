// Room messages of one classroom: sends them on the room channel or the peer
// path by their type, filters what arrives on either, and hands the survivors
// to the classroom through its signals.
//
// Sends may come from any thread (the whiteboard sends from its own worker);
// they are serialised, and a channel or peer path replaced with a setter is no
// longer used once the setter returns, so its owner may destroy it then.
// The receive entry points may be called from library threads; the signals
// reach receivers in other threads through queued connections.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QString>
#include <optional>

#include "RoomChannel.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "RoomPeerPath.h"

class RoomMessenger : public QObject {
  Q_OBJECT

public:
  explicit RoomMessenger(quint32 ownUserId, QObject* parent = nullptr);

  quint32 ownUserId() const { return ownUserId_; }

  // Neither is owned; null while it does not exist (the room channel between
  // a lost connection and its re-creation, the media library before start-up).
  void setRoomChannel(RoomChannel* channel);
  void setPeerPath(RoomPeerPath* peer);
  // Whether the media library is connected to the media server; peer-path
  // sends are dropped while it is not.
  void setMediaConnected(bool connected);
  bool mediaConnected() const;

  // Room send: hand, assistant and types above 70 except the room type change
  // on the peer path, the rest on the room channel. target is "*" or a decimal
  // user id. 0 when handed on; negative when dropped (no transport, bad
  // target, no typeId, too long) or refused by the peer path.
  int sendRoomMsg(const QJsonObject& msg, const QString& target);
  // Annotation send: always on the peer path. Same targets and results.
  int sendRoomJson(const QJsonObject& msg, const QString& target);

  // A message from the room channel (one NUL-terminated text or its bytes):
  // non-objects are dropped, then a repeated index from the same sender, then
  // the own messages except a mute; survivors of the room catalogue are emitted.
  void receiveRoomChannelMessage(const char* text);
  void receiveRoomChannelMessage(const QByteArray& text);
  // A message from the peer path (p2p_msg or p2all_msg): a string typeId goes
  // to the room dispatch, anything else to the annotation dispatch with the
  // media server's sender id as its "sendUserId".
  void receivePeerMessage(quint32 senderId, const char* data, unsigned length);
  void receivePeerMessage(quint32 senderId, const QByteArray& text);

  // Room dispatch without the channel filters, for objects the client itself
  // produced (the phone assistant's). Types outside the room catalogue are ignored.
  void dispatchRoomMessage(const QJsonObject& msg);

signals:
  void signal_ChatMsgArrived(const QJsonObject& msg);
  void signal_AnnoMsgArrived(const QJsonObject& msg);

private:
  struct Outgoing {
    int typeId = 0;
    roommsg::Target target;
    QByteArray text;
  };
  // The checked wire form of a message, or empty (logged) when it cannot be sent.
  static std::optional<Outgoing> prepare(const QJsonObject& msg, const QString& target,
                                         const char* what);
  int sendOnPeerPath(const Outgoing& out);
  bool passesIndexFilter(const QJsonObject& msg, std::optional<quint32> sender);
  void dispatchAnnoMessage(const QJsonObject& msg);

  const quint32 ownUserId_;

  mutable QMutex sendMutex_;  // guards the three below and serialises sends
  RoomChannel* channel_ = nullptr;
  RoomPeerPath* peer_ = nullptr;
  bool mediaConnected_ = false;

  QMutex indexMutex_;
  QHash<qint64, qint64> lastIndex_;  // sender (-1 when none given) -> last index
};

// Stand-ins for the message-server client and the media library that record
// what the room messages hand them.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include "RoomChannel.h"
#include "RoomMessenger.h"
#include "RoomPeerPath.h"

struct ChannelSend {
  QByteArray text;
  QByteArray target;
};

class FakeRoomChannel : public RoomChannel {
 public:
  void send(const QByteArray& text, const QByteArray& target) override {
    QMutexLocker lock(&mutex);
    sent.append({text, target});
  }
  QList<ChannelSend> sent;
  QMutex mutex;
};

struct PeerSend {
  bool all = false;
  uint32_t target = 0;
  QByteArray data;  // exactly `length` bytes from the data pointer
  unsigned length = 0;
};

class FakePeerPath : public RoomPeerPath {
 public:
  int send_p2p_msg(uint32_t targetUserId, const uint8_t* data, unsigned length) override {
    return record({false, targetUserId,
                   QByteArray(reinterpret_cast<const char*>(data), int(length)), length});
  }
  int send_p2all_msg(const uint8_t* data, unsigned length) override {
    return record({true, 0, QByteArray(reinterpret_cast<const char*>(data), int(length)), length});
  }
  QList<PeerSend> sent;
  int result = 0;
  QMutex mutex;

 private:
  int record(const PeerSend& s) {
    QMutexLocker lock(&mutex);
    sent.append(s);
    return result;
  }
};

inline QJsonObject parsed(const QByteArray& text) {
  return QJsonDocument::fromJson(text).object();
}

// Collects what one messenger dispatches.
struct Dispatched {
  explicit Dispatched(RoomMessenger& m) {
    QObject::connect(&m, &RoomMessenger::signal_ChatMsgArrived,
                     [this](const QJsonObject& o) { room.append(o); });
    QObject::connect(&m, &RoomMessenger::signal_AnnoMsgArrived,
                     [this](const QJsonObject& o) { anno.append(o); });
  }
  QList<QJsonObject> room;
  QList<QJsonObject> anno;
};

// The room channel as the room messages see it: the message-server connection
// of one classroom (channel id = room id).
#pragma once

#include <QByteArray>

class RoomChannel {
public:
  virtual ~RoomChannel() = default;
  // text: one UTF-8 JSON object without line feeds; target: a decimal user id
  // or "*", in Latin-1. Delivery is the server's; nothing comes back.
  virtual void send(const QByteArray& text, const QByteArray& target) = 0;
};

// Adapter for a message-server client whose send takes two NUL-terminated
// texts (text, target), such as velmsg::velmsgs. The client is not owned.
template <typename Client>
class RoomChannelOver : public RoomChannel {
public:
  explicit RoomChannelOver(Client* client) : client_(client) {}
  void send(const QByteArray& text, const QByteArray& target) override {
    client_->send(text.constData(), target.constData());
  }

private:
  Client* client_;
};

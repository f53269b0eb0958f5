#include "RoomChannelClient.h"

#include <QMutexLocker>

RoomChannelClient::RoomChannelClient(quint32 userId, quint32 roomId, const QString& credential,
                                     QObject* parent)
    : QObject(parent), userId_(userId), roomId_(roomId), credential_(credential.toLatin1()) {}

RoomChannelClient::~RoomChannelClient() {
  disconnectClient();
}

void RoomChannelClient::connectTo(const QString& host, quint16 port) {
  disconnectClient();
  const QByteArray hostBytes = host.toLatin1();
  velmsg::velmsgs* created = velmsg::velmsgs::create(this, userId_, roomId_, hostBytes.constData(),
                                                     port, credential_.constData());
  QMutexLocker lock(&clientMutex_);
  client_ = created;
  ++connects_;
}

void RoomChannelClient::disconnectClient() {
  velmsg::velmsgs* old = nullptr;
  {
    QMutexLocker lock(&clientMutex_);
    old = client_;
    client_ = nullptr;
  }
  // Outside the lock: destroying joins the library thread, which may be
  // waiting in send() for it.
  if (old)
    old->destroy();
}

bool RoomChannelClient::hasClient() const {
  QMutexLocker lock(&clientMutex_);
  return client_ != nullptr;
}

void RoomChannelClient::send(const QByteArray& text, const QByteArray& target) {
  QMutexLocker lock(&clientMutex_);
  if (client_)
    client_->send(text.constData(), target.constData());
}

void RoomChannelClient::recv_msg(const char* msg) {
  if (msg)
    emit messageArrived(QByteArray(msg));
}

void RoomChannelClient::connect2msgs_state(int state) {
  emit __connect2msgs_state(state);
}

void RoomChannelClient::disconnect_from_msgs() {
  emit __disconect_from_msg();
}

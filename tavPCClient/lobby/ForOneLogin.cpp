#include "ForOneLogin.h"

#include <QJsonObject>
#include <QMutex>

#include "LoginInfo.h"
#include "RoomMessage.h"

ForOneLogin::ForOneLogin(quint32 ownUserId, const QString& ownAddress, QObject* parent)
    : QObject(parent),
      ownUserId_(ownUserId),
      ownAddress_(ownAddress.isEmpty() ? ownIPv4Address() : ownAddress) {}

ForOneLogin::~ForOneLogin() {
  disconnectClient();
}

void ForOneLogin::connectTo(const QString& host, quint16 port) {
  disconnectClient();
  // Read at every (re)connection: the login answer's word for this channel.
  const QByteArray credential = LoginInfo::current().oneLoginCredential.toLatin1();
  velmsg::velmsgs* fresh = velmsg::velmsgs::create(
      this, ownUserId_, kChannel, host.toUtf8().constData(), port, credential.constData());
  QMutexLocker lock(&clientMutex_);
  client_ = fresh;
}

void ForOneLogin::disconnectClient() {
  velmsg::velmsgs* old = nullptr;
  {
    QMutexLocker lock(&clientMutex_);
    std::swap(old, client_);
  }
  // Outside the lock: destroying joins the client's thread, which may be
  // waiting to deliver a callback.
  if (old)
    old->destroy(1);
}

bool ForOneLogin::hasClient() const {
  QMutexLocker lock(&clientMutex_);
  return client_ != nullptr;
}

QByteArray ForOneLogin::announcement(quint32 userId, const QString& ownAddress) {
  QJsonObject message = roommsg::newMessage(MSG_LOGIN_ANNOUNCE);
  message.insert(KEY_SEND_USER_ID, double(userId));
  message.insert(KEY_CONTENT, ownAddress);
  QByteArray text = roommsg::serialize(message);
  text.replace(' ', QByteArray());
  return text;
}

bool ForOneLogin::announce() {
  const QByteArray text = announcement(ownUserId_, ownAddress_);
  const QByteArray target = QByteArray::number(ownUserId_);
  QMutexLocker lock(&clientMutex_);
  return client_ && client_->send(text.constData(), target.constData()) == velmsg::send_queued;
}

bool ForOneLogin::isLoginElsewhere(const QByteArray& text, quint32 userId,
                                   const QString& ownAddress) {
  const auto message = roommsg::parseObject(text);
  // The type as announcement() writes it: the string "1", not the number.
  if (!message ||
      message->value(KEY_TYPE_ID) != roommsg::newMessage(MSG_LOGIN_ANNOUNCE).value(KEY_TYPE_ID))
    return false;
  const auto sender = roommsg::senderOf(*message);
  if (!sender || *sender != userId)
    return false;
  return message->value(KEY_CONTENT).toString() != ownAddress;
}

void ForOneLogin::recv_msg(const char* msg) {
  if (!msg)
    return;
  if (isLoginElsewhere(QByteArray(msg), ownUserId_, ownAddress_))
    emit signal_SelfLogin();
}

void ForOneLogin::connect2msgs_state(int state) {
  emit _connect2msgs_state(state);
}

void ForOneLogin::disconnect_from_msgs() {
  emit signal_disconnect_from_oneLogin();
}

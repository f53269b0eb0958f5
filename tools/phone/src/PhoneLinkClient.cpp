#include "PhoneLinkClient.h"

#include <QDebug>
#include <QTcpSocket>
#include <climits>

#include "RoomMessage.h"
#include "RoomMessageTypes.h"

namespace {

std::optional<QJsonObject> jsonBody(const std::string& body) {
  if (!phonewire::json_depth_within(body, phonewire::kMaxJsonDepth)) {
    qWarning() << "phone link: JSON nested too deeply, dropped";
    return std::nullopt;
  }
  return roommsg::parseObject(QByteArray::fromStdString(body));
}

}  // namespace

PhoneLinkClient::PhoneLinkClient(QObject* parent) : QObject(parent) {
  for (QTimer* timer : {&connectTimer_, &silenceTimer_, &pauseTimer_})
    timer->setSingleShot(true);
  connect(&connectTimer_, &QTimer::timeout, this, [this] {
    qInfo() << "phone link: no answer from" << QString::fromStdString(pairing_.hosts[hostIndex_]);
    closeSocket();
    ++hostIndex_;
    tryHost();
  });
  connect(&silenceTimer_, &QTimer::timeout, this, [this] {
    if (state_ == State::Linked) {
      dropLink(QStringLiteral("nothing received for %1 ms").arg(timing_.silenceLimitMs));
      return;
    }
    // Connected but silent: whatever listens there is not our PC.
    qInfo() << "phone link: no packet after the hello";
    closeSocket();
    ++hostIndex_;
    tryHost();
  });
  connect(&keepAliveTimer_, &QTimer::timeout, this, [this] {
    if (socket_)
      socket_->write(QByteArray::fromStdString(phonewire::keepalive(false)));
  });
  connect(&pauseTimer_, &QTimer::timeout, this, &PhoneLinkClient::startRound);
}

PhoneLinkClient::~PhoneLinkClient() {
  closeSocket();
}

bool PhoneLinkClient::pair(const QString& text) {
  const auto parsed = phonewire::parse_pairing(text.toStdString());
  if (!parsed)
    return false;
  leave();
  pairing_ = *parsed;
  startRound();
  return true;
}

void PhoneLinkClient::leave() {
  state_ = State::Idle;
  reconnecting_ = false;
  pauseTimer_.stop();
  closeSocket();
}

// ---- connecting ----

void PhoneLinkClient::startRound() {
  hostIndex_ = 0;
  refusedOnce_ = false;
  tryHost();
}

void PhoneLinkClient::tryHost() {
  if (hostIndex_ >= int(pairing_.hosts.size())) {
    roundFailed();
    return;
  }
  state_ = State::Connecting;
  const QString host = QString::fromStdString(pairing_.hosts[hostIndex_]);
  socket_ = new QTcpSocket(this);
  QTcpSocket* socket = socket_;
  connect(socket, &QTcpSocket::connected, this, &PhoneLinkClient::onSocketConnected);
  connect(socket, &QTcpSocket::readyRead, this, &PhoneLinkClient::onReadyRead);
  // An error and the disconnect that may follow it are one end.
  connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
    if (socket == socket_)
      onSocketGone();
  });
  connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
    if (socket == socket_)
      onSocketGone();
  });
  emit connecting(host, pairing_.port);
  if (socket_ != socket)
    return;  // a listener started over
  connectTimer_.start(timing_.connectTimeoutMs);
  socket->connectToHost(host, pairing_.port);
}

void PhoneLinkClient::onSocketConnected() {
  connectTimer_.stop();
  state_ = State::Greeting;
  // Strokes are small packets: each goes out at once, not after the last one's acknowledgement.
  socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  reader_ = std::make_unique<phonewire::stream_reader>();
  // The board request waits at the PC behind the hello until the secret is checked.
  socket_->write(QByteArray::fromStdString(phonewire::hello_packet(pairing_.secret)));
  socket_->write(QByteArray::fromStdString(phonewire::board_request()));
  silenceTimer_.start(timing_.silenceLimitMs);
  keepAliveTimer_.start(timing_.keepAliveMs);
}

void PhoneLinkClient::onSocketGone() {
  const QString why = socket_ ? socket_->errorString() : QString();
  switch (state_) {
    case State::Connecting:
      qInfo() << "phone link: cannot reach" << QString::fromStdString(pairing_.hosts[hostIndex_])
              << why;
      break;
    case State::Greeting:
      qInfo() << "phone link: closed before any packet" << why;
      refusedOnce_ = true;
      break;
    case State::Linked:
      dropLink(why);
      return;
    default:
      return;
  }
  closeSocket();
  ++hostIndex_;
  tryHost();
}

void PhoneLinkClient::roundFailed() {
  state_ = State::Idle;
  if (!reconnecting_) {
    if (refusedOnce_)
      emit refused();
    else
      emit unreachable();
    return;
  }
  ++retry_;
  if (retry_ < timing_.retryPausesMs.size()) {
    state_ = State::Pausing;
    pauseTimer_.start(timing_.retryPausesMs[retry_]);
    return;
  }
  reconnecting_ = false;
  emit gaveUp();
}

void PhoneLinkClient::dropLink(const QString& why) {
  qWarning() << "phone link: dropped:" << why;
  closeSocket();
  reconnecting_ = true;
  retry_ = 0;
  if (timing_.retryPausesMs.isEmpty()) {
    state_ = State::Idle;
    reconnecting_ = false;
    emit lost();
    emit gaveUp();
    return;
  }
  state_ = State::Pausing;
  pauseTimer_.start(timing_.retryPausesMs.first());
  emit lost();
}

void PhoneLinkClient::closeSocket() {
  connectTimer_.stop();
  silenceTimer_.stop();
  keepAliveTimer_.stop();
  reader_.reset();
  if (!socket_)
    return;
  QTcpSocket* socket = socket_;
  socket_ = nullptr;
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
}

// ---- receiving ----

void PhoneLinkClient::onReadyRead() {
  QTcpSocket* socket = socket_;
  if (!socket || !reader_)
    return;
  const QByteArray bytes = socket->readAll();
  if (bytes.isEmpty())
    return;
  silenceTimer_.start(timing_.silenceLimitMs);
  reader_->feed(bytes.constData(), size_t(bytes.size()));
  phonewire::packet packet;
  for (;;) {
    const auto result = reader_->next(packet);
    if (result == phonewire::stream_reader::result::need_more)
      return;
    if (result == phonewire::stream_reader::result::failed) {
      const QString why = QStringLiteral("bad packet: ") + QString::fromStdString(reader_->error());
      if (state_ == State::Linked) {
        dropLink(why);
      } else {
        qWarning() << "phone link:" << why;
        closeSocket();
        ++hostIndex_;
        tryHost();
      }
      return;
    }
    if (state_ == State::Greeting) {
      state_ = State::Linked;
      reconnecting_ = false;
      retry_ = 0;
      emit connected(QString::fromStdString(pairing_.hosts[hostIndex_]), pairing_.port);
      if (socket_ != socket)
        return;
    }
    handle(packet);
    if (socket_ != socket)
      return;  // a listener ended or restarted the link
  }
}

void PhoneLinkClient::handle(const phonewire::packet& packet) {
  switch (packet.type) {
    case phonewire::kNumber:
      emit rightsReceived(int(qBound<long long>(INT_MIN, packet.number, INT_MAX)));
      return;
    case phonewire::kFile:
      emit fileReceived(QByteArray::fromStdString(packet.body),
                        QString::fromStdString(packet.extension));
      return;
    case phonewire::kJson:
      if (packet.board_request())
        return;  // the phone has no board to give
      if (const auto msg = jsonBody(packet.body))
        emit boardJsonReceived(*msg);
      return;
    case phonewire::kRoomJson:
      if (const auto msg = jsonBody(packet.body))
        emit roomJsonReceived(*msg);
      return;
    case phonewire::kKeepAlive:
      if (packet.length != 0)
        socket_->write(QByteArray::fromStdString(phonewire::keepalive(true)));
      return;
    default:
      return;
  }
}

// ---- sending ----

bool PhoneLinkClient::writePacket(const std::string& head, const QByteArray& body) {
  if (state_ != State::Linked || !socket_)
    return false;
  socket_->write(head.data(), qint64(head.size()));
  if (!body.isEmpty())
    socket_->write(body);
  return true;
}

bool PhoneLinkClient::sendBoardJson(QJsonObject msg) {
  msg.remove(KEY_SEND_USER_ID);
  const QByteArray body = roommsg::serialize(msg);
  if (size_t(body.size()) > phonewire::kMaxJsonBody) {
    qWarning() << "phone link: board message of" << body.size() << "bytes not sent";
    return false;
  }
  if (!writePacket(phonewire::json_head(phonewire::kJson, size_t(body.size())), body))
    return false;
  // A stroke has gone once its release has.
  if (roommsg::typeIdOf(msg) == ANNO_POINT && msg.value(KEY_CONTENT).toInt() == 3)
    emit strokeSent();
  return true;
}

bool PhoneLinkClient::sendRoomJson(const QJsonObject& msg) {
  const QByteArray body = roommsg::serialize(msg);
  if (size_t(body.size()) > phonewire::kMaxJsonBody) {
    qWarning() << "phone link: room message of" << body.size() << "bytes not sent";
    return false;
  }
  return writePacket(phonewire::json_head(phonewire::kRoomJson, size_t(body.size())), body);
}

bool PhoneLinkClient::sendChat(const QString& text) {
  const QJsonObject msg{{KEY_TYPE_ID, QStringLiteral("0")}, {KEY_CONTENT, text}};
  if (!sendRoomJson(msg))
    return false;
  emit chatSent();
  return true;
}

bool PhoneLinkClient::sendPhoto(const QByteArray& bytes, const QString& extension) {
  if (bytes.isEmpty() || size_t(bytes.size()) > phonewire::kMaxFileBody)
    return false;
  if (!writePacket(phonewire::file_head(extension.toStdString(), size_t(bytes.size())), bytes))
    return false;
  emit photoSent();
  return true;
}

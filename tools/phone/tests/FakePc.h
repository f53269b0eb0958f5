// The classroom PC's end of the phone link as the tests script it: a
// loopback server on an ephemeral port that checks the hello's secret (and
// closes without a word when it is wrong), records every packet the phone
// sends, answers its keep-alives, and sends what a test tells it to.
#pragma once

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <vector>

#include "phonewire/phone_packet.h"

class FakePc {
public:
  static constexpr const char* kSecret = "0123456789abcdef0123456789abcdef";

  FakePc() {
    server_.listen(QHostAddress::LocalHost, 0);
    port_ = server_.serverPort();
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
  }

  quint16 port() const { return port_; }
  QString pairing(const QString& secret = QString::fromLatin1(kSecret)) const {
    return QStringLiteral("127.0.0.1:%1:%2").arg(port_).arg(secret);
  }
  // Packets received after a right hello, hellos included.
  const std::vector<phonewire::packet>& received() const { return received_; }
  int connections() const { return connections_; }
  bool linked() const { return peer_ && greeted_; }

  // The number packet a real PC sends once the hello is right.
  int rightsOnHello = 1;

  void send(const std::string& bytes) {
    if (peer_)
      peer_->write(bytes.data(), qint64(bytes.size()));
  }
  void sendJson(std::uint32_t type, const QJsonObject& msg) {
    const QByteArray body = QJsonDocument(msg).toJson(QJsonDocument::Compact);
    send(phonewire::json_head(type, size_t(body.size())) + body.toStdString());
  }
  void sendFile(const QByteArray& bytes, const std::string& extension) {
    send(phonewire::file_head(extension, size_t(bytes.size())) + bytes.toStdString());
  }
  void sendRights(int code) { send(phonewire::number_packet(code)); }

  // The connection ends; with stopListening nobody answers there any more.
  void drop(bool stopListening) {
    if (stopListening)
      server_.close();
    if (peer_)
      peer_->abort();
    peer_.reset();
  }

private:
  void accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      peer_.reset(socket);
      ++connections_;
      greeted_ = false;
      reader_ = phonewire::stream_reader();
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
    }
  }

  void read(QTcpSocket* socket) {
    const QByteArray bytes = socket->readAll();
    reader_.feed(bytes.constData(), size_t(bytes.size()));
    phonewire::packet packet;
    while (peer_.get() == socket &&
           reader_.next(packet) == phonewire::stream_reader::result::packet) {
      if (!greeted_) {
        if (packet.type != phonewire::kHello || packet.descriptor != kSecret) {
          peer_.release()->deleteLater();
          socket->close();
          return;
        }
        greeted_ = true;
        sendRights(rightsOnHello);
      }
      if (packet.type == phonewire::kKeepAlive && packet.length != 0)
        send(phonewire::keepalive(true));
      received_.push_back(packet);
    }
  }

  QTcpServer server_;
  quint16 port_ = 0;
  std::unique_ptr<QTcpSocket> peer_;
  phonewire::stream_reader reader_;
  bool greeted_ = false;
  int connections_ = 0;
  std::vector<phonewire::packet> received_;
};

// A phone on the other end of the link, for tests: connects, says its
// secret, collects what the PC sends as packets, and sends raw bytes.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "phonewire/phone_packet.h"

class FakePhone {
public:
  FakePhone(quint16 port, const std::string& secret = std::string(),
            const QString& host = QStringLiteral("127.0.0.1")) {
    QObject::connect(&socket_, &QTcpSocket::readyRead, [this] {
      const QByteArray bytes = socket_.readAll();
      reader_.feed(bytes.constData(), size_t(bytes.size()));
      phonewire::packet p;
      while (reader_.next(p) == phonewire::stream_reader::result::packet)
        packets.push_back(p);
    });
    socket_.connectToHost(host, port);
    connected_ = socket_.waitForConnected(10000);
    if (!secret.empty())
      send(phonewire::hello_packet(secret));
  }

  bool connected() const { return connected_; }
  void send(const std::string& bytes) {
    socket_.write(bytes.data(), qint64(bytes.size()));
    socket_.flush();
  }
  void sendJson(quint32 type, const QJsonObject& msg) {
    const QByteArray body = QJsonDocument(msg).toJson(QJsonDocument::Compact);
    send(phonewire::json_head(type, size_t(body.size())) + body.toStdString());
  }
  // Whether the PC closed the connection.
  bool waitClosed() {
    return testsupport::waitUntil(
        [this] { return socket_.state() == QAbstractSocket::UnconnectedState; });
  }
  // The first packet from index from on that satisfies pred; null when none came.
  const phonewire::packet* waitFor(const std::function<bool(const phonewire::packet&)>& pred,
                                   size_t from = 0) {
    const phonewire::packet* found = nullptr;
    testsupport::waitUntil([&] {
      for (size_t i = from; i < packets.size(); ++i)
        if (pred(packets[i])) {
          found = &packets[i];
          return true;
        }
      return false;
    });
    return found;
  }
  static QJsonObject json(const phonewire::packet& p) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(p.body)).object();
  }
  // Everything sent before this answer has arrived once the answer has.
  bool roundTrip() {
    const size_t from = packets.size();
    send(phonewire::keepalive(false));
    return waitFor([](const phonewire::packet& p) { return p.type == phonewire::kKeepAlive; },
                   from);
  }
  void close() { socket_.abort(); }

  std::vector<phonewire::packet> packets;

private:
  QTcpSocket socket_;
  phonewire::stream_reader reader_;
  bool connected_ = false;
};

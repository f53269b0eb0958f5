// Presence reports against a scripted HTTP peer that counts what it is asked.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include "HeartbeatInRoom.h"
#include "HttpRequest.h"
#include "LocalConfig.h"
#include "TestSupport.h"

using testsupport::waitUntil;

namespace {

// Answers every POST with a fixed JSON body and counts requests per path.
class ScriptedService : public QTcpServer {
public:
  explicit ScriptedService(QByteArray answer) : answer_(std::move(answer)) {
    listen(QHostAddress::LocalHost);
    connect(this, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
          buffers_[socket] += socket->readAll();
          QByteArray& buffer = buffers_[socket];
          const int end = buffer.indexOf("\r\n\r\n");
          if (end < 0)
            return;
          const int length = lengthOf(buffer.left(end));
          if (buffer.size() < end + 4 + length)
            return;
          const QByteArray line = buffer.left(buffer.indexOf("\r\n"));
          const QByteArray path = line.split(' ').value(1);
          hits_[QString::fromLatin1(path)] += 1;
          bodies_.append(QString::fromUtf8(buffer.mid(end + 4, length)));
          buffer.remove(0, end + 4 + length);
          socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                        QByteArray::number(answer_.size()) + "\r\n\r\n" + answer_);
        });
      }
    });
  }
  int hits(const QString& path) const { return hits_.value(path); }
  QStringList bodies() const { return bodies_; }

private:
  static int lengthOf(const QByteArray& head) {
    for (const QByteArray& line : head.split('\n'))
      if (line.toLower().startsWith("content-length:"))
        return line.mid(15).trimmed().toInt();
    return 0;
  }
  QByteArray answer_;
  QHash<QTcpSocket*, QByteArray> buffers_;
  QHash<QString, int> hits_;
  QStringList bodies_;
};

TEST(HeartbeatInRoom, NotPresentAnymoreRejoinsExactlyOnce) {
  testsupport::TempHome home;
  ScriptedService service(R"({"code":-1,"msg":"gone"})");
  LocalConfig::instance()->setServerIP(QStringLiteral("127.0.0.1:%1").arg(service.serverPort()));
  HeartbeatInRoom heartbeat(10003, 1001, QStringLiteral("2468"));
  QSignalSpy rejoined(&heartbeat, &HeartbeatInRoom::rejoinSent);
  heartbeat.postSelfInRoom();
  ASSERT_TRUE(waitUntil([&] { return service.hits("/rms/service/room/userJoinRoom") == 1; }));
  ASSERT_TRUE(waitUntil([] { return HttpRequest::pendingCount() == 0; }));
  EXPECT_EQ(service.hits("/rms/service/room/heartbeat"), 1);
  EXPECT_EQ(service.hits("/rms/service/room/userJoinRoom"), 1);
  EXPECT_EQ(rejoined.count(), 1);
  EXPECT_TRUE(service.bodies().contains("globalId=10003&roomId=1001&type=2"));
  // With the private room's code the member was let in with.
  EXPECT_TRUE(service.bodies().contains("roomId=1001&globalId=10003&authCode=2468"));
}

TEST(HeartbeatInRoom, OtherAnswersAndTeachingReportsDoNotRejoin) {
  testsupport::TempHome home;
  ScriptedService service(R"({"code":0,"msg":""})");
  LocalConfig::instance()->setServerIP(QStringLiteral("127.0.0.1:%1").arg(service.serverPort()));
  HeartbeatInRoom heartbeat(10001, 1001);
  heartbeat.postSelfInRoom();
  heartbeat.postIsTeaching();
  ASSERT_TRUE(waitUntil([&] { return service.hits("/rms/service/room/heartbeat") == 2; }));
  ASSERT_TRUE(waitUntil([] { return HttpRequest::pendingCount() == 0; }));
  EXPECT_EQ(service.hits("/rms/service/room/userJoinRoom"), 0);
  EXPECT_TRUE(service.bodies().contains("globalId=10001&roomId=1001&type=1"));
  // An empty answer (network error) is ignored too.
  heartbeat.onHeartbeatBack(QJsonObject());
  EXPECT_EQ(service.hits("/rms/service/room/userJoinRoom"), 0);
}

}  // namespace

// Room messages between members over the real message server and libcorda.
#include <gtest/gtest.h>

#include <QJsonObject>
#include <QSignalSpy>
#include <memory>

#include "RoomMessenger.h"
#include "TestCredentials.h"
#include "TestSupport.h"
#include "libcorda/velmsgs.h"
#include "msgserver/Server.h"

using testsupport::waitUntil;

namespace {
constexpr quint32 kRoom = 4711;

// One member: a message client on the room channel feeding a RoomMessenger.
class Member : public velmsg::msg_observer {
public:
  Member(quint32 userId, quint16 port)
      : messenger(userId), received(&messenger, &RoomMessenger::signal_ChatMsgArrived) {
    const std::string credential = testsupport::testCredential(userId, kRoom);
    client = velmsg::velmsgs::create(this, userId, kRoom, "127.0.0.1", port, credential.c_str());
    channel = std::make_unique<RoomChannelOver<velmsg::velmsgs>>(client);
  }
  ~Member() {
    messenger.setRoomChannel(nullptr);
    if (client)
      client->destroy(1);
  }
  bool waitConnected() {
    if (!waitUntil([&] { return state.load() != 0; }))
      return false;
    if (state.load() != 1)
      return false;
    messenger.setRoomChannel(channel.get());
    return true;
  }
  QJsonObject chat(const QString& text, int index = -1) const {
    QJsonObject msg{{"typeId", "0"},
                    {"sendUserId", static_cast<qint64>(messenger.ownUserId())},
                    {"content", text},
                    {"roomId", QString::number(kRoom)}};
    if (index >= 0)
      msg["index"] = index;
    return msg;
  }
  QStringList contents() const {
    QStringList out;
    for (const QList<QVariant>& args : received)
      out << args.at(0).toJsonObject().value("content").toString();
    return out;
  }

  void recv_msg(const char* msg) override { messenger.receiveRoomChannelMessage(msg); }
  void connect2msgs_state(int s) override { state = s; }
  void disconnect_from_msgs() override { lost = true; }

  RoomMessenger messenger;
  QSignalSpy received;
  velmsg::velmsgs* client = nullptr;
  std::unique_ptr<RoomChannelOver<velmsg::velmsgs>> channel;
  std::atomic<int> state{0};
  std::atomic<bool> lost{false};
};

struct Room {
  msgserver::Server server{[] {
    msgserver::Config c;
    c.listen_port = 0;
    c.internal_token = testsupport::kTestSecret;
    return c;
  }()};
  quint16 port = server.start();
};
}  // namespace

TEST(RoomChannelE2E, ChatReachesOthersOnceAndTheSendersEchoIsDropped) {
  Room room;
  ASSERT_NE(room.port, 0);
  Member teacher(1, room.port), student(2, room.port), studentAgain(2, room.port);
  ASSERT_TRUE(teacher.waitConnected() && student.waitConnected() && studentAgain.waitConnected());

  ASSERT_EQ(teacher.messenger.sendRoomMsg(teacher.chat("大家好 & = + %"), "*"), 0);
  ASSERT_TRUE(waitUntil(
      [&] { return student.received.count() == 1 && studentAgain.received.count() == 1; }));
  EXPECT_EQ(student.contents(), QStringList{"大家好 & = + %"});

  // A message to one user reaches all of that user's connections and nobody else.
  ASSERT_EQ(teacher.messenger.sendRoomMsg(teacher.chat("only you"), "2"), 0);
  ASSERT_TRUE(waitUntil(
      [&] { return student.received.count() == 2 && studentAgain.received.count() == 2; }));

  // The teacher's own copies came back from the server but were filtered:
  // a later message from the student arriving proves the echoes had their turn.
  ASSERT_EQ(student.messenger.sendRoomMsg(student.chat("收到"), "*"), 0);
  ASSERT_TRUE(waitUntil([&] { return teacher.received.count() == 1; }));
  EXPECT_EQ(teacher.contents(), QStringList{"收到"});
}

TEST(RoomChannelE2E, MuteEchoIsActedOnAndRepeatedIndexDropped) {
  Room room;
  Member teacher(1, room.port), student(2, room.port);
  ASSERT_TRUE(teacher.waitConnected() && student.waitConnected());

  const QJsonObject mute{{"typeId", "61"}, {"sendUserId", 1}, {"userId", "2"}};
  ASSERT_EQ(teacher.messenger.sendRoomMsg(mute, "*"), 0);
  ASSERT_TRUE(
      waitUntil([&] { return teacher.received.count() == 1 && student.received.count() == 1; }));
  EXPECT_EQ(teacher.received.at(0).at(0).toJsonObject().value("typeId").toString(), QString("61"));

  // The same index twice in a row from one sender: the second is a duplicate.
  ASSERT_EQ(student.messenger.sendRoomMsg(student.chat("a", 5), "1"), 0);
  ASSERT_EQ(student.messenger.sendRoomMsg(student.chat("b", 5), "1"), 0);
  ASSERT_EQ(student.messenger.sendRoomMsg(student.chat("c", 6), "1"), 0);
  ASSERT_TRUE(waitUntil([&] { return teacher.received.count() == 3; }));
  EXPECT_EQ(teacher.contents().mid(1), (QStringList{"a", "c"}));
}

TEST(RoomChannelE2E, TextSenderIdCountsAsTheNumber) {
  Room room;
  Member teacher(42, room.port), student(2, room.port);
  ASSERT_TRUE(teacher.waitConnected() && student.waitConnected());
  // A message carrying the teacher's id as text still counts as the teacher's own.
  QJsonObject msg = teacher.chat("own");
  msg["sendUserId"] = "42";
  ASSERT_EQ(teacher.messenger.sendRoomMsg(msg, "*"), 0);
  ASSERT_EQ(student.messenger.sendRoomMsg(student.chat("marker"), "*"), 0);
  ASSERT_TRUE(
      waitUntil([&] { return teacher.received.count() == 1 && student.received.count() == 1; }));
  EXPECT_EQ(teacher.contents(), QStringList{"marker"});
}

TEST(RoomChannelE2E, ReconnectAfterTheServerRestarts) {
  auto room = std::make_unique<Room>();
  const quint16 port = room->port;
  auto teacher = std::make_unique<Member>(1, port);
  ASSERT_TRUE(teacher->waitConnected());
  room.reset();
  ASSERT_TRUE(waitUntil([&] { return teacher->lost.load(); }));

  // The server comes back on the same port; the owner destroys and recreates.
  msgserver::Config c;
  c.listen_port = port;
  c.internal_token = testsupport::kTestSecret;
  msgserver::Server again(c);
  ASSERT_EQ(again.start(), port);
  teacher = std::make_unique<Member>(1, port);
  Member student(2, port);
  ASSERT_TRUE(teacher->waitConnected() && student.waitConnected());
  ASSERT_EQ(teacher->messenger.sendRoomMsg(teacher->chat("back"), "*"), 0);
  ASSERT_TRUE(waitUntil([&] { return student.received.count() == 1; }));
}

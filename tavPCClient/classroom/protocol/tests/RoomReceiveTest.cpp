// Receiving filters of the room channel and the peer path, and bad input.
#include <gtest/gtest.h>

#include <QJsonDocument>

#include <QCoreApplication>
#include <QThread>
#include <thread>

#include "RoomFakes.h"
#include "TestSupport.h"

namespace {

QByteArray json(const QJsonObject& o) {
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray from(const QJsonValue& sender, const char* type, const QJsonValue& index = {}) {
  QJsonObject o{{"typeId", type}, {"sendUserId", sender}, {"content", "x"}};
  if (!index.isNull())
    o.insert("index", index);
  return json(o);
}

TEST(RoomChannelReceive, OwnEchoesAreDroppedExceptMute) {
  RoomMessenger m(42);
  Dispatched got(m);
  m.receiveRoomChannelMessage(from(42, "0"));
  m.receiveRoomChannelMessage(from("42", "0"));  // the same id written as text
  m.receiveRoomChannelMessage(from(42, "70"));
  EXPECT_TRUE(got.room.isEmpty());

  m.receiveRoomChannelMessage(from(42, "61"));
  m.receiveRoomChannelMessage(from("42", "61"));
  m.receiveRoomChannelMessage(from(43, "0"));
  m.receiveRoomChannelMessage(from("420", "0"));
  m.receiveRoomChannelMessage(json({{"typeId", "62"}, {"title", "t"}}));  // no sender at all
  ASSERT_EQ(got.room.size(), 5);
  EXPECT_EQ(roommsg::typeIdOf(got.room[0]), MSG_MUTE);
  EXPECT_EQ(roommsg::senderOf(got.room[3]), 420u);
  EXPECT_TRUE(got.anno.isEmpty());
}

TEST(RoomChannelReceive, RepeatedIndexFromTheSameSenderIsDropped) {
  RoomMessenger m(1);
  Dispatched got(m);
  m.receiveRoomChannelMessage(from(42, "0", 5));    // first from 42: kept
  m.receiveRoomChannelMessage(from("42", "0", 5));  // same sender, same index
  m.receiveRoomChannelMessage(from(42, "0", "5"));  // index as text is the same index
  m.receiveRoomChannelMessage(from(43, "0", 5));    // other sender
  m.receiveRoomChannelMessage(from(42, "0"));       // no index: passes, memory unchanged
  m.receiveRoomChannelMessage(from(42, "0", 5));    // still the stored one
  m.receiveRoomChannelMessage(from(42, "0", 6));
  m.receiveRoomChannelMessage(from(42, "0", 5));  // differs from the stored 6: passes
  EXPECT_EQ(got.room.size(), 5);

  // Own messages still update the memory even though they are dropped.
  RoomMessenger me(9);
  Dispatched mine(me);
  me.receiveRoomChannelMessage(from(9, "0", 3));
  me.receiveRoomChannelMessage(from(9, "61", 3));
  me.receiveRoomChannelMessage(from(9, "61", 4));
  EXPECT_EQ(mine.room.size(), 1);
}

TEST(RoomChannelReceive, SentChatIsShownOnceEverywhere) {
  // Two members on one channel whose server hands every message to both.
  RoomMessenger teacher(7), student(8);
  Dispatched atTeacher(teacher), atStudent(student);
  struct Loopback : RoomChannel {
    QList<RoomMessenger*> members;
    void send(const QByteArray& text, const QByteArray&) override {
      for (RoomMessenger* m : members)
        m->receiveRoomChannelMessage(text.constData());
    }
  } server;
  server.members = {&teacher, &student};
  teacher.setRoomChannel(&server);

  QJsonObject chat = roommsg::newMessage(MSG_CHAT_TEXT);
  roommsg::SenderFields me;
  me.userId = 7;
  roommsg::stampSender(chat, me);
  chat.insert(KEY_CONTENT, QStringLiteral("同学们好"));
  ASSERT_EQ(teacher.sendRoomMsg(chat, "*"), 0);
  QJsonObject mute = roommsg::newMessage(MSG_MUTE);
  mute.insert(KEY_SEND_USER_ID, 7);
  mute.insert(KEY_ACCEPT_USER_ID, 8);
  mute.insert(KEY_CONTENT, "Y");
  ASSERT_EQ(teacher.sendRoomMsg(mute, "*"), 0);

  ASSERT_EQ(atStudent.room.size(), 2);
  EXPECT_EQ(atStudent.room[0], chat);
  ASSERT_EQ(atTeacher.room.size(), 1);
  EXPECT_EQ(atTeacher.room[0], mute);
}

TEST(PeerReceive, JsonTypeOfTypeIdPicksTheDispatch) {
  RoomMessenger m(42);
  Dispatched got(m);
  const QJsonObject point{
      {"typeId", 100}, {"sendUserId", 5}, {"content", 2}, {"x", 0.5}, {"y", 0.25}};
  QJsonObject asText = point;
  asText.insert("typeId", "100");
  m.receivePeerMessage(5, json(point));
  m.receivePeerMessage(5, json(asText));  // room dispatch, where 100 is no room type
  ASSERT_EQ(got.anno.size(), 1);
  EXPECT_EQ(got.anno[0], point);
  EXPECT_TRUE(got.room.isEmpty());

  const QByteArray query = json({{"typeId", "71"}, {"sendUserId", 5}});
  m.receivePeerMessage(5, query.constData(), unsigned(query.size()));
  // A hand raise of our own relayed back is not filtered on this path.
  m.receivePeerMessage(42, json({{"typeId", "30"}, {"sendUserId", 42}, {"content", "1"}}));
  ASSERT_EQ(got.room.size(), 2);
  EXPECT_EQ(roommsg::typeIdOf(got.room[0]), MSG_SHARE_STATE_QUERY);

  // Outside the annotation catalogue, or no type at all: nowhere.
  m.receivePeerMessage(5, json({{"typeId", 110}}));
  m.receivePeerMessage(5, json({{"typeId", 100.5}}));
  m.receivePeerMessage(5, json({{"content", 1}}));
  m.receivePeerMessage(5, json({{"typeId", "0x1E"}}));
  EXPECT_EQ(got.anno.size(), 1);
  EXPECT_EQ(got.room.size(), 2);
}

// A member cannot speak for another on the board: the media server's sender wins.
TEST(PeerReceive, ABoardMessageSpeaksForTheMemberItCameFrom) {
  RoomMessenger m(42);
  Dispatched got(m);
  m.receivePeerMessage(5, json({{"typeId", 107}, {"sendUserId", 1}, {"content", 1}}));
  m.receivePeerMessage(5, json({{"typeId", 102}, {"sendUserId", QJsonValue()}}));
  m.receivePeerMessage(5, json({{"typeId", 108}, {"sendUserId", "5"}}));
  ASSERT_EQ(got.anno.size(), 3);
  for (const QJsonObject& msg : got.anno)
    EXPECT_EQ(roommsg::senderOf(msg), 5u) << QJsonDocument(msg).toJson().toStdString();
}

TEST(PeerReceive, SentBytesArriveInTheirFamily) {
  RoomMessenger sender(1), receiver(2);
  FakePeerPath peer;
  sender.setPeerPath(&peer);
  sender.setMediaConnected(true);
  Dispatched got(receiver);
  QJsonObject color = roommsg::newMessage(ANNO_COLOR);
  color.insert(KEY_CONTENT, QJsonObject{{"r", 255}, {"g", 0}, {"b", 0}, {"a", 255}});
  ASSERT_EQ(sender.sendRoomJson(color, "*"), 0);
  ASSERT_EQ(sender.sendRoomMsg(roommsg::newMessage(MSG_PIC_ROTATE), "2"), 0);
  for (const PeerSend& s : peer.sent)
    receiver.receivePeerMessage(1, s.data.constData(), s.length);
  ASSERT_EQ(got.anno.size(), 1);
  QJsonObject stamped = color;  // the media server named the sender
  stamped.insert(KEY_SEND_USER_ID, 1);
  EXPECT_EQ(got.anno[0], stamped);
  ASSERT_EQ(got.room.size(), 1);
  EXPECT_EQ(roommsg::typeIdOf(got.room[0]), MSG_PIC_ROTATE);
}

TEST(RoomReceive, BadInputIsIgnored) {
  RoomMessenger m(42);
  Dispatched got(m);
  const QByteArray bad[] = {
      "",
      "not json",
      "{\"typeId\":\"0\"",  // cut short
      "[{\"typeId\":\"0\"}]",
      "\"{\\\"typeId\\\":\\\"0\\\"}\"",
      "{}",
      "{\"typeId\":null}",
      "{\"typeId\":\"abc\"}",
      "{\"typeId\":\"-1\"}",
      "{\"typeId\":\" 0\"}",
      "{\"typeId\":\"99999999999999999999\"}",
      "{\"typeId\":\"1\",\"sendUserId\":5}",  // the one-login announce
      "{\"typeId\":\"99\",\"sendUserId\":5}",
      "{\"typeId\":[\"0\"]}",
      "{\"typeId\":\"0\",\"content\":\"\xff\xfe\"}",  // not UTF-8
      QByteArray(100000, '['),
  };
  for (const QByteArray& text : bad) {
    m.receiveRoomChannelMessage(text);
    m.receiveRoomChannelMessage(text.constData());
    m.receivePeerMessage(5, text);
    m.receivePeerMessage(5, text.constData(), unsigned(text.size()));
  }
  // A number is no room type on the room channel; it is an annotation only on the peer path.
  m.receiveRoomChannelMessage("{\"typeId\":0,\"sendUserId\":5}");
  m.receiveRoomChannelMessage("{\"typeId\":100,\"sendUserId\":5}");
  m.receiveRoomChannelMessage(nullptr);
  m.receivePeerMessage(5, nullptr, 10);
  m.receivePeerMessage(5, "{}", 0);
  EXPECT_TRUE(got.room.isEmpty());
  EXPECT_TRUE(got.anno.isEmpty());

  // A sender id that is no user id is nobody's, so it is not taken for our own.
  m.receiveRoomChannelMessage(from(-42, "0"));
  m.receiveRoomChannelMessage(from("42abc", "0"));
  m.receiveRoomChannelMessage(from(42.0 + 4294967296.0, "0"));
  EXPECT_EQ(got.room.size(), 3);

  // A terminating NUL counted in the peer length is tolerated.
  const QByteArray withNul("{\"typeId\":105,\"content\":3}", 27);
  m.receivePeerMessage(5, withNul.constData(), unsigned(withNul.size()));
  EXPECT_EQ(got.anno.size(), 1);
}

TEST(RoomReceive, TextsBeyondTheLimitAreDroppedUnread) {
  RoomMessenger m(42);
  Dispatched got(m);
  const QByteArray head = "{\"typeId\":\"0\",\"sendUserId\":5,\"content\":\"";
  QByteArray atLimit = head + QByteArray(roommsg::kMaxMessageBytes - head.size() - 2, 'x') + "\"}";
  ASSERT_EQ(atLimit.size(), roommsg::kMaxMessageBytes);
  m.receiveRoomChannelMessage(atLimit.constData());
  m.receivePeerMessage(5, atLimit.constData(), unsigned(atLimit.size()));
  EXPECT_EQ(got.room.size(), 2);

  const QByteArray over =
      head + QByteArray(roommsg::kMaxMessageBytes - head.size() - 1, 'x') + "\"}";
  m.receiveRoomChannelMessage(over);
  m.receiveRoomChannelMessage(over.constData());
  m.receivePeerMessage(5, over);
  m.receivePeerMessage(5, over.constData(), unsigned(over.size()));
  EXPECT_EQ(got.room.size(), 2);
}

TEST(RoomReceive, LibraryThreadMessagesReachTheGuiThread) {
  RoomMessenger m(42);
  QObject gui;  // stands for the classroom window
  QList<QThread*> deliveredOn;
  QObject::connect(&m, &RoomMessenger::signal_ChatMsgArrived, &gui,
                   [&](const QJsonObject&) { deliveredOn.append(QThread::currentThread()); });
  QObject::connect(&m, &RoomMessenger::signal_AnnoMsgArrived, &gui,
                   [&](const QJsonObject&) { deliveredOn.append(QThread::currentThread()); });
  std::thread library([&] {
    for (int i = 0; i < 50; ++i) {
      m.receiveRoomChannelMessage(from(5, "0", i % 2).constData());  // index alternates: all pass
      m.receivePeerMessage(5, json({{"typeId", 100}, {"content", 1}}));
    }
  });
  library.join();
  ASSERT_TRUE(testsupport::waitUntil([&] { return deliveredOn.size() == 100; }));
  for (QThread* t : deliveredOn)
    EXPECT_EQ(t, QCoreApplication::instance()->thread());
}

}  // namespace

// Room send and annotation send: which transport each type takes, what the
// transports receive, and when a send is dropped.
#include <gtest/gtest.h>

#include <QJsonDocument>

#include "RoomFakes.h"

namespace {

class RoomSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messenger.setRoomChannel(&channel);
    messenger.setPeerPath(&peer);
    messenger.setMediaConnected(true);
  }
  void clear() {
    channel.sent.clear();
    peer.sent.clear();
  }

  RoomMessenger messenger{7};
  FakeRoomChannel channel;
  FakePeerPath peer;
};

TEST_F(RoomSendTest, EachTypeTakesTheTransportOfItsClass) {
  // 52, 66 and 79 are outside the catalogue but still follow the rule by value.
  const int channelTypes[] = {MSG_CHAT_TEXT,
                              MSG_CHAT_PICTURE,
                              MSG_CHAT_VOICE,
                              MSG_GIFT,
                              MSG_MEDAL,
                              52,
                              MSG_KICK_OUT,
                              MSG_MUTE,
                              MSG_ANNOUNCEMENT_TITLE,
                              MSG_BLANK_WHITEBOARD,
                              MSG_TOOL_REVOKED,
                              MSG_COURSEWARE_STATUS,
                              66,
                              MSG_DOC_DELETED,
                              MSG_DOC_ADDED,
                              MSG_ROOM_TYPE};
  const int peerTypes[] = {MSG_HAND,
                           MSG_ASSISTANT,
                           MSG_SHARE_STATE_QUERY,
                           MSG_SHARE_STATE,
                           MSG_PIC_ROTATE,
                           MSG_PAGE_TURN,
                           MSG_PIC_DRAG,
                           MSG_PIC_FIT,
                           MSG_PIC_RESIZE,
                           MSG_PHONE_ASSISTANT,
                           79,
                           81,
                           ANNO_POINT,
                           ANNO_PEN};
  for (int type : channelTypes) {
    clear();
    EXPECT_EQ(messenger.sendRoomMsg(roommsg::newMessage(type), "*"), 0) << type;
    ASSERT_EQ(channel.sent.size(), 1) << type;
    EXPECT_TRUE(peer.sent.isEmpty()) << type;
    EXPECT_EQ(channel.sent[0].target, "*");
    EXPECT_EQ(roommsg::typeIdOf(parsed(channel.sent[0].text)), type);
  }
  for (int type : peerTypes) {
    clear();
    EXPECT_EQ(messenger.sendRoomMsg(roommsg::newMessage(type), "*"), 0) << type;
    ASSERT_EQ(peer.sent.size(), 1) << type;
    EXPECT_TRUE(channel.sent.isEmpty()) << type;
    EXPECT_TRUE(peer.sent[0].all);
  }
  // The rule looks at the value, whichever JSON type carries it.
  clear();
  messenger.sendRoomMsg(QJsonObject{{"typeId", 30}}, "*");
  messenger.sendRoomMsg(QJsonObject{{"typeId", "100"}}, "*");
  messenger.sendRoomMsg(QJsonObject{{"typeId", 80}}, "*");
  EXPECT_EQ(peer.sent.size(), 2);
  EXPECT_EQ(channel.sent.size(), 1);
}

TEST_F(RoomSendTest, TargetsPickTheOperationAndBadTargetsAreRefused) {
  EXPECT_EQ(messenger.sendRoomMsg(roommsg::newMessage(MSG_SHARE_STATE), "42"), 0);
  EXPECT_EQ(messenger.sendRoomJson(roommsg::newMessage(ANNO_SHAPE), "4294967295"), 0);
  EXPECT_EQ(messenger.sendRoomMsg(roommsg::newMessage(MSG_CHAT_TEXT), "42"), 0);
  ASSERT_EQ(peer.sent.size(), 2);
  EXPECT_FALSE(peer.sent[0].all);
  EXPECT_EQ(peer.sent[0].target, 42u);
  EXPECT_EQ(peer.sent[1].target, 4294967295u);
  ASSERT_EQ(channel.sent.size(), 1);
  EXPECT_EQ(channel.sent[0].target, "42");

  // Not "*" and not a user id: sending to user 0 or to a wrapped id would be wrong.
  clear();
  for (const char* bad : {"", "abc", "-1", "4294967296", " 42", "0x2A", "*42", "4.2"}) {
    EXPECT_LT(messenger.sendRoomMsg(roommsg::newMessage(MSG_CHAT_TEXT), bad), 0) << bad;
    EXPECT_LT(messenger.sendRoomMsg(roommsg::newMessage(MSG_HAND), bad), 0) << bad;
    EXPECT_LT(messenger.sendRoomJson(roommsg::newMessage(ANNO_POINT), bad), 0) << bad;
  }
  EXPECT_TRUE(channel.sent.isEmpty());
  EXPECT_TRUE(peer.sent.isEmpty());
}

TEST_F(RoomSendTest, PeerPathGetsTheUtf8ByteLengthOfMultiByteText) {
  QJsonObject msg = roommsg::newMessage(MSG_HAND);
  msg.insert(KEY_CONTENT, QStringLiteral("老师，我有问题：这一页的第三题怎么做？"));
  ASSERT_EQ(messenger.sendRoomMsg(msg, "*"), 0);
  ASSERT_EQ(peer.sent.size(), 1);
  const QByteArray expected = QJsonDocument(msg).toJson(QJsonDocument::Compact);
  EXPECT_EQ(peer.sent[0].length, unsigned(expected.size()));
  EXPECT_GT(peer.sent[0].length, unsigned(QString::fromUtf8(expected).size()));
  EXPECT_EQ(parsed(peer.sent[0].data), msg);

  // The room channel gets the same UTF-8 text, with no line feeds.
  msg = roommsg::newMessage(MSG_CHAT_TEXT);
  msg.insert(KEY_CONTENT, QStringLiteral("第一行\n第二行"));
  ASSERT_EQ(messenger.sendRoomMsg(msg, "*"), 0);
  ASSERT_EQ(channel.sent.size(), 1);
  EXPECT_FALSE(channel.sent[0].text.contains('\n'));
  EXPECT_EQ(parsed(channel.sent[0].text), msg);
}

TEST_F(RoomSendTest, SendsWithoutTheirTransportAreDropped) {
  messenger.setMediaConnected(false);
  EXPECT_LT(messenger.sendRoomMsg(roommsg::newMessage(MSG_HAND), "*"), 0);
  EXPECT_LT(messenger.sendRoomMsg(roommsg::newMessage(MSG_PAGE_TURN), "42"), 0);
  EXPECT_LT(messenger.sendRoomJson(roommsg::newMessage(ANNO_POINT), "*"), 0);
  // Room-channel types do not depend on the media connection.
  EXPECT_EQ(messenger.sendRoomMsg(roommsg::newMessage(MSG_CHAT_TEXT), "*"), 0);
  EXPECT_TRUE(peer.sent.isEmpty());
  EXPECT_EQ(channel.sent.size(), 1);

  // Between a lost room channel and its re-creation; the peer path still works.
  clear();
  messenger.setMediaConnected(true);
  messenger.setRoomChannel(nullptr);
  EXPECT_LT(messenger.sendRoomMsg(roommsg::newMessage(MSG_CHAT_TEXT), "*"), 0);
  EXPECT_LT(messenger.sendRoomMsg(roommsg::newMessage(MSG_ROOM_TYPE), "*"), 0);
  EXPECT_EQ(messenger.sendRoomMsg(roommsg::newMessage(MSG_ASSISTANT), "*"), 0);
  // The annotation send takes the peer path whatever the type.
  EXPECT_EQ(messenger.sendRoomJson(roommsg::newMessage(MSG_CHAT_TEXT), "*"), 0);
  EXPECT_TRUE(channel.sent.isEmpty());
  EXPECT_EQ(peer.sent.size(), 2);

  // Connected flag without a media library object, and the library's own refusal.
  clear();
  messenger.setPeerPath(nullptr);
  EXPECT_LT(messenger.sendRoomJson(roommsg::newMessage(ANNO_STOP), "*"), 0);
  messenger.setPeerPath(&peer);
  peer.result = -1;
  EXPECT_EQ(messenger.sendRoomJson(roommsg::newMessage(ANNO_STOP), "*"), -1);
}

TEST_F(RoomSendTest, MessagesWithoutAUsableTypeOrTooLongAreRefused) {
  const QJsonObject bad[] = {QJsonObject{},
                             QJsonObject{{"typeId", "abc"}},
                             QJsonObject{{"typeId", ""}},
                             QJsonObject{{"typeId", -1}},
                             QJsonObject{{"typeId", 30.5}},
                             QJsonObject{{"typeId", true}}};
  for (const QJsonObject& msg : bad) {
    EXPECT_LT(messenger.sendRoomMsg(msg, "*"), 0) << QJsonDocument(msg).toJson().constData();
    EXPECT_LT(messenger.sendRoomJson(msg, "*"), 0);
  }
  QJsonObject huge = roommsg::newMessage(ANNO_SHAPE);
  huge.insert(KEY_CONTENT, QString(roommsg::kMaxMessageBytes, QLatin1Char('x')));
  EXPECT_LT(messenger.sendRoomJson(huge, "*"), 0);
  EXPECT_TRUE(channel.sent.isEmpty());
  EXPECT_TRUE(peer.sent.isEmpty());
}

// The shapes of the outside client classes the adapters are written for.
struct MsgClientShape {
  void send(const char* text, const char* target) { sent.append(ChannelSend{text, target}); }
  QList<ChannelSend> sent;
};
struct MediaLibraryShape {
  int send_p2p_msg(uint32_t id, const uint8_t* data, unsigned length) {
    last = {false, id, QByteArray(reinterpret_cast<const char*>(data), int(length)), length};
    return 0;
  }
  int send_p2all_msg(const uint8_t* data, unsigned length) {
    last = {true, 0, QByteArray(reinterpret_cast<const char*>(data), int(length)), length};
    return -1;
  }
  PeerSend last;
};

TEST(RoomTransportAdapters, ForwardToTheLibraryObjects) {
  MsgClientShape client;
  MediaLibraryShape library;
  RoomChannelOver<MsgClientShape> channel(&client);
  RoomPeerPathOver<MediaLibraryShape> peer(&library);
  RoomMessenger messenger(7);
  messenger.setRoomChannel(&channel);
  messenger.setPeerPath(&peer);
  messenger.setMediaConnected(true);

  EXPECT_EQ(messenger.sendRoomMsg(roommsg::newMessage(MSG_GIFT), "*"), 0);
  ASSERT_EQ(client.sent.size(), 1);
  EXPECT_EQ(client.sent[0].target, "*");
  EXPECT_EQ(parsed(client.sent[0].text), roommsg::newMessage(MSG_GIFT));

  EXPECT_EQ(messenger.sendRoomMsg(roommsg::newMessage(MSG_PIC_FIT), "12"), 0);
  EXPECT_EQ(library.last.target, 12u);
  EXPECT_EQ(messenger.sendRoomMsg(roommsg::newMessage(MSG_PIC_FIT), "*"), -1);
  EXPECT_TRUE(library.last.all);
}

}  // namespace

// What a part reaches through the context: sends, the start-up answers, the
// interfaces parts offer each other, the media library while it exists.
#include "ClassroomContext.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "ClassroomRig.h"
#include "Prompt.h"
#include "RoomMessage.h"

namespace {

struct ChatLines {
  virtual ~ChatLines() = default;
  virtual void addLine(const QString& text) = 0;
};
struct Chat : ChatLines {
  QStringList lines;
  void addLine(const QString& text) override { lines << text; }
};

TEST(ClassroomContextTest, PartsReachTheRoomOnlyThroughIt) {
  ClassroomRig rig;
  // Offered interfaces: none until a part provides one.
  EXPECT_EQ(rig.context.find<ChatLines>(), nullptr);
  Chat chat;
  rig.context.provide<ChatLines>(&chat);
  ASSERT_EQ(rig.context.find<ChatLines>(), &chat);
  rig.context.find<ChatLines>()->addLine("送出鲜花");
  EXPECT_EQ(chat.lines, QStringList{"送出鲜花"});

  // Sends take the transport of their type.
  EXPECT_EQ(rig.context.sendRoomMsg(roommsg::newMessage(MSG_CHAT_TEXT), "*"), 0);
  EXPECT_EQ(rig.channel.sent.size(), 1);
  // The peer path only while the media server is connected.
  EXPECT_LT(rig.context.sendRoomJson(roommsg::newMessage(ANNO_POINT), "*"), 0);
  rig.connectMedia();
  EXPECT_EQ(rig.context.sendRoomJson(roommsg::newMessage(ANNO_POINT), "*"), 0);
  EXPECT_EQ(rig.peer.sent.size(), 1);

  // Start-up answers are kept for parts that read them later, and announced.
  QSignalSpy answers(&rig.context, &ClassroomContext::startAnswerArrived);
  rig.context.keepStartAnswer("gift/findAll", QJsonObject{{"code", 0}});
  EXPECT_EQ(answers.count(), 1);
  EXPECT_EQ(rig.context.startAnswer("gift/findAll").value("code").toInt(), 0);
  EXPECT_TRUE(rig.context.startAnswer("medal/findAll").isEmpty());

  // Without the media library every operation is refused.
  rig.context.setMedia(nullptr);
  EXPECT_EQ(rig.context.memberMedia().openMedia(10003, 1), -1);
  EXPECT_EQ(rig.context.classFloor().startClass(), -1);
  EXPECT_EQ(rig.context.shareRight().startShare(), -1);
  EXPECT_EQ(rig.context.frameDelivery().pauseFrames(), -1);
  rig.context.toast("好");
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("好"));
  EXPECT_EQ(Prompt::instance()->parentWidget(), &rig.window);
}

}  // namespace

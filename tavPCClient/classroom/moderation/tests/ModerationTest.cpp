// Moderation against the shared classroom objects: which ticked members a bulk
// mute asks for, the refusal of removing oneself, what an accepted action tells
// the room, the room's moderation messages (and who may send them), the
// assistant moving between the list's groups, the medal ranking.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>

#include "ChatLines.h"
#include "ClassroomRig.h"
#include "MedalRankingItem.h"
#include "MedalRankingList.h"
#include "MediaControl.h"
#include "MemberListWidget.h"
#include "MemberPanel.h"
#include "ModerationControl.h"
#include "Prompt.h"
#include "RoomMessageTypes.h"
#include "UserItem.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;
constexpr quint32 kOther = 10004;

struct RecordingChat : ChatLines {
  QStringList sent;
  void addOwnLine(const QString&) override {}
  void addReceivedLine(const QJsonObject&, const QString&) override {}
  bool sendLine(const QString& text) override {
    sent << text;
    return true;
  }
};

QString takeToast() {
  const QString text = Prompt::instance()->text();
  Prompt::instance()->setText(QString());
  return text;
}

QJsonObject about(int typeId, quint32 sender, quint32 target, const char* content) {
  QJsonObject msg = roommsg::newMessage(typeId);
  msg.insert("sendUserId", double(sender));
  msg.insert("acceptUserId", QString::number(target));
  msg.insert("content", content);
  return msg;
}

struct ModerationTest : ::testing::Test {
  explicit ModerationTest(quint32 own = kTeacher) : rig(own, kTeacher) {
    rig.add(kTeacher, "老师", "王老师");
    rig.add(kStudent, "学生", "小明");
    rig.add(kOther, "学生", "小红");
    rig.session.setOwnRole(own == kTeacher ? RoomContext::kTeacher : RoomContext::kStudent, false);
    rig.connectMedia();
    rig.context.provide<ChatLines>(&chat);
  }
  QList<QJsonObject> sent() {
    QList<QJsonObject> out;
    for (const ChannelSend& s : rig.channel.sent)
      out << QJsonDocument::fromJson(s.text).object();
    for (const PeerSend& s : rig.peer.sent)
      out << QJsonDocument::fromJson(s.data).object();
    return out;
  }
  void tick(std::initializer_list<quint32> ids) {
    for (UserItem* item : list()->items())
      item->setChecked(std::find(ids.begin(), ids.end(), item->userId()) != ids.end());
  }
  MemberListWidget* list() { return panel.findChild<MemberListWidget*>("memberList"); }

  ClassroomRig rig;
  RecordingChat chat;
  MediaControl control{rig.context};
  MemberPanel panel{rig.context, control};
  ModerationControl moderation{rig.context};
  QStringList& informed = rig.dialogs.informed;
  QStringList& asked = rig.dialogs.asked;
};

struct StudentSide : ModerationTest {
  StudentSide() : ModerationTest(kStudent) {}
};

}  // namespace

TEST_F(ModerationTest, BulkMuteAsksOnlyForWhoQualifies) {
  moderation.btnProhibitSpeak_clicked();  // nobody ticked
  EXPECT_EQ(informed, QStringList({"没有符合条件的被禁言用户！"}));
  rig.session.setMemberMuted(kStudent, true);
  tick({kStudent});
  moderation.btnProhibitSpeak_clicked();  // only the muted one
  EXPECT_EQ(informed.size(), 2);
  EXPECT_EQ(informed.last(), QStringLiteral("没有符合条件的被禁言用户！"));
  tick({kOther});
  moderation.btnRestoreSpeak_clicked();  // nobody muted among the ticked
  EXPECT_EQ(informed.last(), QStringLiteral("没有符合条件的被解除禁言用户！"));
  tick({kStudent, kOther});
  moderation.btnProhibitSpeak_clicked();  // kOther qualifies: asked, no box
  EXPECT_EQ(informed.size(), 3);
}

TEST_F(ModerationTest, RemovingOneselfIsRefusedBeforeAnyQuestion) {
  moderation.onKickedOutRoom(kTeacher);
  EXPECT_EQ(takeToast(), QStringLiteral("不可以将自己请出教室！"));
  EXPECT_TRUE(asked.isEmpty());
  moderation.onKickedOutRoom(kStudent);
  EXPECT_EQ(asked, QStringList({"用户被请出教室后要等15分钟才可以进来!"}));
}

TEST_F(ModerationTest, AcceptedActionsTellTheRoomAndRefusedOnesNobody) {
  moderation.onProhibitSpeak_back(QJsonObject{{"code", 403}, {"msg", "没有权限！"}}, kStudent);
  EXPECT_EQ(takeToast(), QStringLiteral("没有权限！"));
  EXPECT_TRUE(sent().isEmpty());
  EXPECT_FALSE(rig.session.member(kStudent)->muted);

  moderation.onProhibitSpeak_back(QJsonObject{{"code", 0}}, kStudent);
  EXPECT_EQ(takeToast(), QStringLiteral("禁言成功！"));
  EXPECT_TRUE(rig.session.member(kStudent)->muted);
  ASSERT_EQ(sent().size(), 1);
  EXPECT_EQ(sent()[0].value("typeId").toVariant().toInt(), MSG_MUTE);
  EXPECT_EQ(sent()[0].value("acceptUserId").toString(), QString::number(kStudent));
  EXPECT_EQ(sent()[0].value("content").toString(), QStringLiteral("Y"));
  EXPECT_EQ(chat.sent, QStringList({"“小明”已被老师禁言"}));

  moderation.onKickedOut_back(QJsonObject{{"code", 0}}, kOther);
  EXPECT_EQ(sent().last().value("content").toString(), QStringLiteral("“小红”已被老师请出教室"));

  // The assistant moves between the list's groups.
  EXPECT_EQ(list()->groupCount(MemberListWidget::Student), 2);
  moderation.onGrantAdminBack(QJsonObject{{"code", 0}}, kStudent);
  EXPECT_EQ(list()->groupCount(MemberListWidget::Assistant), 1);
  EXPECT_EQ(list()->groupCount(MemberListWidget::Student), 1);
  EXPECT_EQ(sent().last().value("content").toString(), QStringLiteral("Y"));

  moderation.onGrantMedalBack(QJsonObject(), kOther, "学习之星");
  EXPECT_EQ(takeToast(), QStringLiteral("奖励勋章失败！"));
  QSignalSpy outdated(&moderation, &ModerationControl::medalCountersOutdated);
  moderation.onGrantMedalBack(QJsonObject{{"code", 0}}, kOther, "学习之星");
  EXPECT_EQ(rig.session.member(kOther)->medals, QStringLiteral("学习之星"));
  EXPECT_EQ(chat.sent.last(), QStringLiteral("“小红”被授予了“学习之星”勋章"));
  EXPECT_EQ(outdated.count(), 1);
}

TEST_F(StudentSide, TheTeachersMessagesMuteRemoveAndUnmakeButNotAStudents) {
  QSignalSpy leave(&rig.context, &ClassroomContext::leaveRequested);
  moderation.onModerationMessage(about(MSG_MUTE, kOther, kStudent, "Y"));  // a student: no
  EXPECT_FALSE(rig.session.member(kStudent)->muted);
  moderation.onModerationMessage(about(MSG_MUTE, kTeacher, kStudent, "Y"));
  EXPECT_TRUE(rig.session.member(kStudent)->muted);
  moderation.onModerationMessage(about(MSG_MUTE, kTeacher, kStudent, "N"));
  EXPECT_FALSE(rig.session.member(kStudent)->muted);

  moderation.onModerationMessage(about(MSG_KICK_OUT, kOther, kStudent, "x"));
  EXPECT_EQ(leave.count(), 0);
  moderation.onModerationMessage(about(MSG_KICK_OUT, kTeacher, kOther, "x"));  // someone else
  EXPECT_EQ(leave.count(), 0);
  moderation.onModerationMessage(about(MSG_KICK_OUT, kTeacher, kStudent, "x"));
  ASSERT_EQ(leave.count(), 1);
  EXPECT_EQ(leave[0][0].toString(), QStringLiteral("您已被老师请出教室！"));

  moderation.onModerationMessage(about(MSG_ASSISTANT, kTeacher, kStudent, "Y"));
  EXPECT_TRUE(rig.room.isAssistant);
  EXPECT_TRUE(rig.session.hasTeacherRights());
  moderation.onModerationMessage(about(MSG_ASSISTANT, kTeacher, kStudent, "N"));
  EXPECT_FALSE(rig.room.isAssistant);
  EXPECT_EQ(leave.count(), 1);  // not entered on the assistant's exemption
}

TEST(MedalRanking, OneRowPerNameInTheServicesOrder) {
  ClassroomRig rig;
  MedalRankingList ranking(rig.context);
  ranking.onGetRoomMedalList(QJsonObject());
  EXPECT_EQ(rig.dialogs.informed, QStringList({"onGetRoomMedalList Error!"}));
  const QJsonArray body{
      QJsonObject{{"10003", QJsonObject{{"nickName", "小明"}, {"count", 5}}}},
      QJsonObject{{"10004", QJsonObject{{"nickName", "<b>小红</b>"}, {"count", 3}}}},
      QJsonObject{{"10009", QJsonObject{{"nickName", "小明"}, {"count", 1}}}}};
  ranking.onGetRoomMedalList(QJsonObject{{"code", 0}, {"body", body}});
  ASSERT_EQ(ranking.rows().size(), 2);
  EXPECT_EQ(ranking.rows()[0]->name(), QStringLiteral("小明"));
  EXPECT_EQ(ranking.rows()[0]->count(), 5);
  EXPECT_EQ(ranking.rows()[1]->name(), QStringLiteral("<b>小红</b>"));
  ranking.onGetRoomMedalList(QJsonObject{{"code", 1}});  // ignored: the rows stay
  EXPECT_EQ(ranking.rows().size(), 2);
}

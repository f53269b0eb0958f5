// Hands: the own button's two states, hands others raise and lower, the
// teacher lowering one (only the teacher's side may), and the teacher's click
// on a raised hand opening that member's camera and microphone.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>

#include "ClassroomRig.h"
#include "HandControl.h"
#include "MediaControl.h"
#include "MemberListWidget.h"
#include "MemberPanel.h"
#include "RoomMessageTypes.h"
#include "UserItem.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;
constexpr quint32 kOther = 10004;

QJsonObject hand(quint32 sender, const char* content, qint64 lowered = 0) {
  QJsonObject msg = roommsg::newMessage(MSG_HAND);
  msg.insert("sendUserId", double(sender));
  msg.insert("content", content);
  if (lowered)
    msg.insert("handDownUserId", QString::number(lowered));
  return msg;
}

// Hand messages go the media server's way.
QList<QJsonObject> sent(ClassroomRig& rig) {
  QList<QJsonObject> out;
  for (const PeerSend& s : rig.peer.sent)
    out << QJsonDocument::fromJson(s.data).object();
  return out;
}

}  // namespace

TEST(Hands, TheOwnButtonRaisesAndLowersAndTheTeacherMayLowerIt) {
  ClassroomRig rig(kStudent, kTeacher);
  rig.add(kTeacher, "老师");
  rig.add(kStudent, "学生");
  rig.add(kOther, "学生");
  rig.session.setOwnRole(RoomContext::kStudent, false);
  rig.connectMedia();
  HandControl hands(rig.context);
  QPushButton* button = hands.button();
  EXPECT_FALSE(button->isHidden());
  EXPECT_EQ(button->text(), QStringLiteral("举手"));

  button->click();
  EXPECT_EQ(button->text(), QStringLiteral("放手"));
  EXPECT_TRUE(rig.session.member(kStudent)->handUp);
  ASSERT_EQ(sent(rig).size(), 1);
  EXPECT_EQ(sent(rig)[0].value("content").toString(), QStringLiteral("1"));
  EXPECT_EQ(rig.session.raisedHands(), 1);

  // Another student cannot lower it; the teacher can, and the button follows.
  hands.onHandMessage(hand(kOther, "0", kStudent));
  EXPECT_TRUE(rig.session.member(kStudent)->handUp);
  hands.onHandMessage(hand(kTeacher, "0", kStudent));
  EXPECT_FALSE(rig.session.member(kStudent)->handUp);
  EXPECT_EQ(button->text(), QStringLiteral("举手"));
  ASSERT_EQ(sent(rig).size(), 2);  // the button was pressed: "0" went out
  EXPECT_EQ(sent(rig)[1].value("content").toString(), QStringLiteral("0"));

  // Others' own hands; nonsense content changes nothing.
  hands.onHandMessage(hand(kOther, "1"));
  EXPECT_TRUE(rig.session.member(kOther)->handUp);
  hands.onHandMessage(hand(kOther, "7"));
  EXPECT_TRUE(rig.session.member(kOther)->handUp);
  // A member list refresh keeps the hands.
  rig.add(kOther, "学生");
  EXPECT_TRUE(rig.session.member(kOther)->handUp);
}

TEST(Hands, TheTeacherClickingARaisedHandOpensTheMemberAndLowersIt) {
  ClassroomRig rig(kTeacher, kTeacher);
  rig.add(kTeacher, "老师");
  rig.add(kStudent, "学生");
  rig.session.setOwnRole(RoomContext::kTeacher, false);
  rig.connectMedia();
  MediaControl control(rig.context);
  MemberPanel panel(rig.context, control);
  HandControl hands(rig.context);
  EXPECT_TRUE(hands.button()->isHidden());  // the teacher raises no hand

  hands.onHandMessage(hand(kStudent, "1"));
  auto* list = panel.findChild<MemberListWidget*>("memberList");
  ASSERT_TRUE(list->findUser(kStudent)->isHandUp());
  auto* count = panel.findChild<QLabel*>("handCount");
  EXPECT_EQ(count->text(), QStringLiteral("举手（1）"));

  panel.userItem_mouseUserhandClick(kStudent);
  int opened = 0;
  for (const MediaCall& c : rig.media.callsOf(media_cmd_open_media))
    opened += c.userId == kStudent ? 1 : 0;
  EXPECT_EQ(opened, 2);  // camera and microphone
  EXPECT_FALSE(list->findUser(kStudent)->isHandUp());
  EXPECT_EQ(rig.session.raisedHands(), 0);
  ASSERT_FALSE(sent(rig).isEmpty());
  const QJsonObject down = sent(rig).last();
  EXPECT_EQ(down.value("handDownUserId").toString(), QString::number(kStudent));
  EXPECT_EQ(down.value("content").toString(), QStringLiteral("0"));
  // A hand that is down is not a button.
  const int calls = rig.media.calls.size();
  panel.userItem_mouseUserhandClick(kStudent);
  EXPECT_EQ(rig.media.calls.size(), calls);
}

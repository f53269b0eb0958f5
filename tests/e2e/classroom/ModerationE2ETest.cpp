// Gifts and moderation through the real service, message server and MCU: the
// teacher's classroom window gives a gift (paid at the service, heard by the
// others) and fails one (heard by nobody), mutes a student (its controls go
// off and the message server relays nothing it says), makes a student
// assistant and back, and removes another (cut from the room channel and the
// MCU at once).
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <tuple>

#include "ChatMembers.h"
#include "ChatMessage.h"
#include "ChatMessageItem.h"
#include "ClassroomFixture.h"
#include "GiftBar.h"
#include "GiftButton.h"
#include "MemberPanel.h"
#include "ModerationControl.h"
#include "RoomMember.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "UserItem.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;
constexpr quint32 kStudent2 = 10004;

QStringList contents(const QList<ChatMessageItem*>& items) {
  QStringList out;
  for (const ChatMessageItem* item : items)
    out << item->entry().content;
  return out;
}

class ModerationE2E : public ClassroomTest {
protected:
  std::unique_ptr<ChatMember> member(const testsupport::DemoLogin& who) {
    auto chat = joinChat(who, kTeacher, kRoom, servers_, home_.home());
    // The member knows the teacher and itself, as its member list would.
    for (const auto& [id, role, name] :
         {std::tuple<quint32, QString, QString>{kTeacher, "老师", "王老师"},
          std::tuple<quint32, QString, QString>{who.id, "学生", who.name}})
      chat->session().addMember(*RoomMember::fromJson(
          QJsonObject{{"globalId", QString::number(id)}, {"role", role}, {"nickName", name}}));
    return chat;
  }
  double teacherBalance() {
    const QJsonObject answer = postAndWait(
        ServiceApi::kGetRechargeInfo, FormBody(ServiceApi::kGetRechargeInfo.body).arg(kTeacher));
    return answer.value("body").toObject().value("money").toDouble(-1);
  }
  void say(ChatMember& who, const QString& text) {
    who.chat().findChild<QLineEdit*>("chatEdit")->setText(text);
    who.chat().btnSendText_clicked();
  }
};

}  // namespace

TEST_F(ModerationE2E, GiftsArePaidFirstAndModerationIsEnforcedByTheServers) {
  const testsupport::DemoLogin student = testsupport::loginAs("student1");
  const testsupport::DemoLogin student2 = testsupport::loginAs("student2");
  ASSERT_EQ(student.id, kStudent);
  ASSERT_EQ(student2.id, kStudent2);
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  ASSERT_TRUE(addBots({kStudent, kStudent2}));
  auto pupil = member(student);
  auto other = member(student2);
  ASSERT_TRUE(waitUntil([&] {
    return pupil->connected() && other->connected() && pupil->chat().historyPage() > 1 &&
           other->chat().historyPage() > 1;
  }));
  QList<QJsonObject> giftsHeard;
  QObject recorder;
  other->context().handleRoomMessages({MSG_GIFT}, &recorder,
                                      [&](const QJsonObject& msg) { giftsHeard << msg; });
  ModerationControl pupilModeration(pupil->context());
  ModerationControl otherModeration(other->context());

  // A gift of ten: the service takes exactly ten times its own price.
  auto* gifts = part<GiftBar>("giftBar");
  ASSERT_TRUE(waitUntil([&] {
    return gifts->giftButtons().size() >= 2 && gifts->targetBox()->findData(qint64(kStudent)) >= 0;
  }));
  GiftButton* clap = gifts->giftButtons()[1];
  clap->click();
  gifts->targetBox()->setCurrentIndex(gifts->targetBox()->findData(qint64(kStudent)));
  gifts->countBox()->setEditText(QStringLiteral("10个   完美学"));
  const double before = teacherBalance();
  ASSERT_GT(before, 10 * clap->price());
  gifts->btnSendGift_clicked();
  ASSERT_TRUE(waitUntil([&] { return giftsHeard.size() == 1; }));
  EXPECT_DOUBLE_EQ(teacherBalance(), before - 10 * clap->price());
  EXPECT_EQ(giftsHeard[0].value("giftCount").toString(), QStringLiteral("10"));
  EXPECT_EQ(giftsHeard[0].value("content").toString(), QString::number(clap->giftId()));
  EXPECT_TRUE(gifts->balanceText().startsWith(QStringLiteral("余额：")));

  // More than the balance: refused at the service, so nobody hears of it.
  gifts->giftButtons().last()->click();
  gifts->countBox()->setEditText(QStringLiteral("99999"));
  gifts->btnSendGift_clicked();
  ASSERT_TRUE(waitUntil([&] { return gifts->findChild<QPushButton*>("btnSendGift")->isEnabled(); }));
  auto* teacherEdit = classroom_->findChild<QLineEdit*>("chatEdit");
  teacherEdit->setText(QStringLiteral("礼物之后"));
  part<ChatPanel>("chatPanel")->btnSendText_clicked();
  ASSERT_TRUE(waitUntil([&] { return contents(other->chat().shownItems()).contains("礼物之后"); }));
  EXPECT_EQ(giftsHeard.size(), 1);

  // Muting student 1: its send controls go off, and what it still sends goes nowhere.
  auto* moderation = part<ModerationControl>();
  ASSERT_TRUE(moderation);
  moderation->onProhibitSpeak(kStudent);
  auto* pupilEdit = pupil->chat().findChild<QLineEdit*>("chatEdit");
  ASSERT_TRUE(waitUntil([&] { return !pupilEdit->isEnabled(); }));
  EXPECT_EQ(pupilEdit->toolTip(), QStringLiteral("您已被老师禁言"));
  const QJsonObject raw =
      chat::textMessage({kStudent, student.name, QString(), RoomContext::kStudent, kRoom},
                        QStringLiteral("禁言中偷偷说"));
  EXPECT_EQ(pupil->context().sendRoomMsg(raw, QStringLiteral("*")), 0);  // leaves the client
  ASSERT_TRUE(waitUntil([&] { return session().member(kStudent)->muted; }));
  moderation->onProhibitSpeak(kStudent);  // restored
  ASSERT_TRUE(waitUntil([&] { return pupilEdit->isEnabled(); }));
  say(*pupil, QStringLiteral("解禁后"));
  ChatPanel& teacherChat = *part<ChatPanel>("chatPanel");
  ASSERT_TRUE(waitUntil([&] { return contents(teacherChat.shownItems()).contains("解禁后"); }));
  EXPECT_FALSE(contents(teacherChat.shownItems()).contains("禁言中偷偷说"));
  EXPECT_FALSE(contents(other->chat().shownItems()).contains("禁言中偷偷说"));

  // Making student 1 assistant moves it between the member list's groups.
  auto& list = memberList();
  const int students = list.groupCount(MemberListWidget::Student);
  moderation->grantAssistant(kStudent, true);
  ASSERT_TRUE(waitUntil([&] { return list.groupCount(MemberListWidget::Assistant) == 1; }));
  EXPECT_EQ(list.groupCount(MemberListWidget::Student), students - 1);
  moderation->grantAssistant(kStudent, false);
  ASSERT_TRUE(waitUntil([&] { return list.groupCount(MemberListWidget::Assistant) == 0; }));

  // Removing student 2: cut from the room channel and the MCU, and kept out.
  moderation->setConfirm([](const QString&, const QString&) { return true; });
  moderation->onKickedOutRoom(kStudent2);
  ASSERT_TRUE(waitUntil([&] { return !other->connected(); }));
  ASSERT_TRUE(waitUntil([&] { return mcuMember(kStudent2).user_id == 0; }));
  say(*pupil, QStringLiteral("请出之后"));
  ASSERT_TRUE(waitUntil([&] { return contents(teacherChat.shownItems()).contains("请出之后"); }));
  EXPECT_FALSE(other->connected());
  EXPECT_FALSE(contents(other->chat().shownItems()).contains("请出之后"));
}

TEST_F(ModerationE2E, ARaisedHandTravelsAndTheTeachersClickOpensTheStudent) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  part<QPushButton>("btnStartClass")->click();
  ASSERT_TRUE(waitUntil([&] { return RoomContext::current().classInProgress; }));
  ASSERT_TRUE(addBots({kStudent}));

  // The student raises its hand the way its window would: over the media server.
  QJsonObject hand = roommsg::newMessage(MSG_HAND);
  hand.insert("sendUserId", double(kStudent));
  hand.insert("content", "1");
  const QByteArray text = roommsg::serialize(hand);
  ASSERT_EQ(bots_.back()->library()->send_p2all_msg(
                reinterpret_cast<const uint8_t*>(text.constData()), unsigned(text.size())),
            0);
  UserItem* item = nullptr;
  ASSERT_TRUE(waitUntil([&] {
    item = memberList().findUser(kStudent);
    return item && item->isHandUp();
  }));
  EXPECT_EQ(part<QLabel>("handCount")->text(), QStringLiteral("举手（1）"));

  // The teacher clicks the raised hand: the student's camera and microphone open
  // at the media server and the hand goes down.
  part<MemberPanel>("memberPanel")->userItem_mouseUserhandClick(kStudent);
  ASSERT_TRUE(waitUntil([&] { return (mcuMember(kStudent).published & 3u) == 3u; }));
  EXPECT_FALSE(memberList().findUser(kStudent)->isHandUp());
  EXPECT_TRUE(part<QLabel>("handCount")->isHidden());
}

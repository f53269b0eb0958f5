// Gifts and moderation through the real service, message server and MCU: the
// teacher's classroom window gives a gift (paid at the service, heard by the
// others) and fails one (heard by nobody), mutes a student (its controls go
// off and the message server relays nothing it says), makes a student
// assistant and back, and removes another (cut from the room channel and the
// MCU at once). Students' own windows, each in a process of its own, give a
// gift, see it arrive, lose and regain their controls, and close when removed.
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
#include "GiftEffectArea.h"
#include "MemberPanel.h"
#include "ModerationControl.h"
#include "RoomMember.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "UserItem.h"
#include "WindowMember.h"
#include "msgserver/Server.h"

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
  // The service tells a balance only to its owner: this process signed in as the teacher.
  double teacherBalance() {
    const QJsonObject answer = postAndWait(
        ServiceApi::kGetRechargeInfo, FormBody(ServiceApi::kGetRechargeInfo.body).arg(kTeacher));
    return answer.value("body").toObject().value("money").toDouble(-1);
  }
  // The member's balance as its own window asks the service for it.
  static double balanceOf(WindowMember& member) {
    const int mark = member.mark();
    member.send(QStringLiteral("balance"));
    QString answer;
    waitUntil([&] {
      for (int i = mark; i < member.lines().size(); ++i)
        if (member.lines()[i].startsWith(QStringLiteral("balance ")))
          answer = member.lines()[i].mid(8);
      return !answer.isEmpty();
    });
    bool ok = false;
    const double money = answer.toDouble(&ok);
    return ok ? money : -1;
  }
  std::unique_ptr<WindowMember> window(const QString& account) {
    return std::make_unique<WindowMember>(account, kRoom, servers_.host(), servers_.mcuPort(),
                                          servers_.msgPort(), home_.home());
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
    return gifts->giftButtons().size() >= 2 &&
           gifts->findChild<QComboBox*>("cmbGiftTarget")->findData(qint64(kStudent)) >= 0;
  }));
  GiftButton* clap = gifts->giftButtons()[1];
  clap->click();
  gifts->findChild<QComboBox*>("cmbGiftTarget")
      ->setCurrentIndex(gifts->findChild<QComboBox*>("cmbGiftTarget")->findData(qint64(kStudent)));
  gifts->findChild<QComboBox*>("cmbGiftCount")->setEditText(QStringLiteral("10个   完美学"));
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
  gifts->findChild<QComboBox*>("cmbGiftCount")->setEditText(QStringLiteral("99999"));
  gifts->btnSendGift_clicked();
  ASSERT_TRUE(
      waitUntil([&] { return gifts->findChild<QPushButton*>("btnSendGift")->isEnabled(); }));
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
  const auto refused = servers_.msg().stats().chat_refused;
  EXPECT_EQ(pupil->context().sendRoomMsg(raw, QStringLiteral("*")), 0);  // leaves the client
  ASSERT_TRUE(waitUntil([&] { return session().member(kStudent)->muted; }));
  // It reaches the message server while the sender is muted, and is refused there.
  ASSERT_TRUE(waitUntil([&] { return servers_.msg().stats().chat_refused > refused; }));
  const auto lists = servers_.msg().stats().removal_lists;
  moderation->onProhibitSpeak(kStudent);  // restored
  ASSERT_TRUE(waitUntil([&] { return pupilEdit->isEnabled(); }));
  // The message server judges chat by what it knew of the sender on receipt: the restore first.
  ASSERT_TRUE(waitUntil([&] { return servers_.msg().stats().removal_lists > lists; }));
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
  answerNextBox(true);
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

TEST_F(ModerationE2E, StudentsWindowsGiveSeeAndAreModerated) {
  const testsupport::DemoLogin student = testsupport::loginAs("student1");
  const testsupport::DemoLogin student2 = testsupport::loginAs("student2");
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  auto pupil = window("student1");
  ASSERT_TRUE(pupil->waitFor("ready")) << pupil->lines().join('\n').toStdString();
  auto other = window("student2");
  ASSERT_TRUE(other->waitFor("ready")) << other->lines().join('\n').toStdString();
  ASSERT_TRUE(
      waitUntil([&] { return session().contains(kStudent) && session().contains(kStudent2); }));
  EXPECT_TRUE(pupil->waitFor("teacher-controls hidden"));

  // The recharge button gets the page's key from the service; with no browser
  // here the toast gives the address with it.
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", home_.home().toUtf8());
  Prompt::instance()->setText(QString());
  part<QPushButton>("btnRecharge")->click();
  EXPECT_TRUE(waitUntil([] {
    return Prompt::instance()->text().contains(QStringLiteral("rechargeCenter.html?Keycode="));
  })) << Prompt::instance()->text().toStdString();
  qputenv("PATH", path);

  // Student 1 gives student 2 ten of the second gift: paid at the service,
  // seen by student 2 and the teacher as an effect and a chat line.
  auto* gifts = part<GiftBar>("giftBar");
  ASSERT_TRUE(waitUntil([&] { return gifts->giftButtons().size() >= 2; }));
  const GiftButton* clap = gifts->giftButtons()[1];
  const QString line =
      QStringLiteral("“%1”送给“%2”礼物“%3”10个").arg(student.name, student2.name, clap->giftName());
  const double before = balanceOf(*pupil);
  ASSERT_GT(before, 10 * clap->price());
  auto* effects = part<GiftEffectArea>();
  bool teacherSawEffect = false;
  QObject watch;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, &watch,
                   [&] { teacherSawEffect = teacherSawEffect || effects->visibleCount() > 0; });
  look.start(10);
  const int otherMark = other->mark();
  pupil->send(QStringLiteral("gift %1 10 1").arg(kStudent2));
  ASSERT_TRUE(pupil->waitFor("gift-answer 赠送礼物成功！"))
      << pupil->lines().join('\n').toStdString();
  EXPECT_DOUBLE_EQ(balanceOf(*pupil), before - 10 * clap->price());
  EXPECT_TRUE(other->waitFor("effects 1", otherMark));
  EXPECT_TRUE(other->waitFor("chat " + line, otherMark));
  ChatPanel& teacherChat = *part<ChatPanel>("chatPanel");
  ASSERT_TRUE(waitUntil([&] { return contents(teacherChat.shownItems()).contains(line); }));
  EXPECT_TRUE(waitUntil([&] { return teacherSawEffect; }));
  look.stop();

  // Muting student 1 turns its window's chat input off; restoring, on.
  auto* moderation = part<ModerationControl>();
  int mark = pupil->mark();
  moderation->onProhibitSpeak(kStudent);
  EXPECT_TRUE(pupil->waitFor("input disabled", mark));
  mark = pupil->mark();
  moderation->onProhibitSpeak(kStudent);
  EXPECT_TRUE(pupil->waitFor("input enabled", mark));

  // As assistant, student 1 has the teacher's controls; revoked, no more.
  mark = pupil->mark();
  moderation->grantAssistant(kStudent, true);
  EXPECT_TRUE(pupil->waitFor("teacher-controls shown", mark));
  mark = pupil->mark();
  moderation->grantAssistant(kStudent, false);
  EXPECT_TRUE(pupil->waitFor("teacher-controls hidden", mark));

  // Removed, student 2's classroom closes with the toast, its MCU session
  // ends, and coming back at once is refused.
  answerNextBox(true);
  moderation->onKickedOutRoom(kStudent2);
  EXPECT_TRUE(other->waitFor(QStringLiteral("closed 您已被老师请出教室！")))
      << other->lines().join('\n').toStdString();
  EXPECT_TRUE(waitUntil([&] { return other->finished(); }));
  EXPECT_TRUE(waitUntil([&] { return mcuMember(kStudent2).user_id == 0; }));
  auto again = window("student2");
  EXPECT_TRUE(waitUntil([&] {
    for (const QString& l : again->lines())
      if (l.startsWith(QStringLiteral("refused 您已被老师请出教室，请")))
        return true;
    return false;
  })) << again->lines().join('\n').toStdString();
}

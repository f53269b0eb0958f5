// Rating the teacher: the score and comment rules, what is posted and what
// is not, the answers, the dialog giving up by itself, and when the
// classroom asks for a rating at all.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>

#include "ClassEvaluation.h"
#include "ClassroomRig.h"
#include "EvaluateDialog.h"
#include "Prompt.h"
#include "TestSupport.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;

QString takeToast() {
  const QString text = Prompt::instance()->text();
  Prompt::instance()->setText(QString());
  return text;
}

}  // namespace

TEST(EvaluateDialogTest, NoScoreNoRequestAndTheCommentLimit) {
  testsupport::TempHome home;
  EvaluateDialog dialog(QStringLiteral("王老师"), 10003, 1, 10001, 1, 1001);
  dialog.show();
  auto* counter = dialog.findChild<QLabel*>("evaluateCounter");
  auto* submit = dialog.findChild<QPushButton*>("btnSubmit");
  auto* comment = dialog.findChild<QPlainTextEdit*>("evaluateComment");
  ASSERT_TRUE(counter && submit && comment);
  EXPECT_EQ(counter->text(), QStringLiteral("当前已输入0个字符，你还可以输入200个字符。"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("塔维网"));
  EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
  // Every score caption fits its button.
  for (const char* name : {"btnVeryLow", "btnSomeSatisfied", "btnVerySatisfied"}) {
    auto* button = dialog.findChild<QPushButton*>(name);
    ASSERT_TRUE(button);
    EXPECT_GE(button->width(), button->sizeHint().width()) << name;
  }

  // Without a score nothing leaves.
  takeToast();
  QSignalSpy submitted(&dialog, &EvaluateDialog::submitRequested);
  dialog.slot_ButtonSubmit();
  EXPECT_EQ(takeToast(), QStringLiteral("请为老师打分！"));
  EXPECT_EQ(submitted.count(), 0);

  comment->setPlainText(QString(200, QChar(0x597d)));
  EXPECT_EQ(counter->text(), QStringLiteral("当前已输入200个字符，你还可以输入0个字符。"));
  EXPECT_TRUE(submit->isEnabled());
  comment->setPlainText(QString(201, QChar(0x597d)));
  EXPECT_EQ(counter->text(), QStringLiteral("当前已输入201个字符，超出范围。"));
  EXPECT_FALSE(submit->isEnabled());
  EXPECT_TRUE(counter->styleSheet().contains("red"));

  // One score at a time, and the posted text with its keys in order.
  dialog.findChild<QPushButton*>("btnLow")->click();
  dialog.findChild<QPushButton*>("btnSatisfied")->click();
  EXPECT_EQ(dialog.score(), 80);
  EXPECT_FALSE(dialog.findChild<QPushButton*>("btnLow")->isChecked());
  comment->setPlainText(QStringLiteral("讲得\"好\""));
  EXPECT_EQ(dialog.param(),
            QByteArray(R"({"uId":10003,"uRole":1,"tId":10001,"tRole":1,"roomId":1001,"score":80,)"
                       R"("content":"讲得\"好\""})"));
}

TEST(EvaluateDialogTest, AnswersCloseItLaterAndItGivesUpByItself) {
  testsupport::TempHome home;
  {
    EvaluateDialog dialog(QStringLiteral("王老师"), 1, 1, 2, 1, 3);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    dialog.slot_evaluate_reply(QJsonObject{{"code", 0}});
    EXPECT_EQ(takeToast(), QStringLiteral("评价成功！"));
    EXPECT_TRUE(accepted.wait(10000));
  }
  {
    EvaluateDialog dialog(QStringLiteral("王老师"), 1, 1, 2, 1, 3);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    dialog.slot_evaluate_reply(QJsonObject{});
    EXPECT_EQ(takeToast(), QStringLiteral("当前网络不给力，评价失败！"));
    EXPECT_FALSE(dialog.findChild<QPushButton*>("btnSubmit")->isEnabled());
    EXPECT_TRUE(rejected.wait(10000));
  }
  {
    EvaluateDialog dialog(QStringLiteral("王老师"), 1, 1, 2, 1, 3);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    dialog.slot_evaluate_reply(QJsonObject{{"code", 5}, {"msg", "已评价过"}});
    EXPECT_EQ(takeToast(), QStringLiteral("已评价过"));
    EXPECT_TRUE(rejected.wait(10000));
  }
  {
    // Untouched, it gives up (the two minutes shortened here).
    EvaluateDialog dialog(QStringLiteral("王老师"), 1, 1, 2, 1, 3);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    dialog.setSelfRejectInterval(50);
    EXPECT_TRUE(rejected.wait(10000));
  }
}

TEST(ClassEvaluationTest, StudentsAndParentsRateAClassTheySatIn) {
  EXPECT_EQ(ClassEvaluation::evaluatorRole(RoomContext::kStudent), 1);
  EXPECT_EQ(ClassEvaluation::evaluatorRole(RoomContext::kParent), 2);
  EXPECT_EQ(ClassEvaluation::evaluatorRole(RoomContext::kTeacher), 0);
  EXPECT_EQ(ClassEvaluation::evaluatorRole(RoomContext::kAuditor), 0);
  EXPECT_EQ(ClassEvaluation::teacherRole(10001, 10001), 1);
  EXPECT_EQ(ClassEvaluation::teacherRole(10002, 10001), 2);

  testsupport::TempHome home;
  ClassroomRig rig(kStudent, kTeacher);
  rig.session.setOwnRole(RoomContext::kStudent, false);
  rig.add(kTeacher, QStringLiteral("老师"), QStringLiteral("王老师"));
  ClassEvaluation evaluation(rig.context);
  // A room without a class: nothing to rate.
  rig.session.classStopped();
  EXPECT_FALSE(evaluation.dialog());

  rig.session.classStarted(kTeacher);
  rig.session.classStopped();
  ASSERT_TRUE(evaluation.dialog());
  EXPECT_TRUE(
      evaluation.dialog()->findChild<QLabel*>("evaluateTeacher")->text().endsWith("王老师"));
  EvaluateDialog* first = evaluation.dialog();
  // Another end while one is open opens no second one.
  rig.session.classStarted(kTeacher);
  rig.session.classStopped();
  EXPECT_EQ(evaluation.dialog(), first);

  // Leaving the room closes it.
  QSignalSpy rejected(first, &QDialog::rejected);
  evaluation.leaving();
  EXPECT_EQ(rejected.size(), 1);

  // The teacher rates nobody.
  ClassroomRig teacherRig;
  teacherRig.session.setOwnRole(RoomContext::kTeacher, false);
  ClassEvaluation own(teacherRig.context);
  teacherRig.session.classStarted(kTeacher);
  teacherRig.session.classStopped();
  EXPECT_FALSE(own.dialog());
}

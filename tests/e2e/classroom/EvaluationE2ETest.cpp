// Ratings and announcements through the real servers: a student's window
// (a process of its own) rates the class the teacher ends, the service keeps
// it and the teacher's summary shows it; the teacher publishes and deletes an
// announcement and a student entering afterwards sees each; bulletins turn.
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include "AnnouncementBar.h"
#include "ClassAnnouncementDialog.h"
#include "ClassroomFixture.h"
#include "WindowMember.h"

namespace {

class EvaluationE2E : public ClassroomTest {
protected:
  std::unique_ptr<WindowMember> window(const QString& account) {
    return std::make_unique<WindowMember>(account, kRoom, servers_.host(), servers_.mcuPort(),
                                          servers_.msgPort(), home_.home());
  }
  // The announcement a student entering now sees in its title bar.
  QString studentSees() {
    auto student = window("student1");
    QString seen;
    waitUntil([&] {
      for (const QString& line : student->lines())
        if (line.startsWith("announcement ") && line != "announcement ")
          seen = line.mid(13);
      return !seen.isEmpty();
    });
    return seen;
  }
};

}  // namespace

TEST_F(EvaluationE2E, AStudentRatesTheEndedClassAndTheTeacherSeesIt) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  part<QPushButton>("btnStartClass")->click();
  ASSERT_TRUE(waitUntil([&] { return session().classInProgress(); }));
  auto pupil = window("student1");
  ASSERT_TRUE(pupil->waitFor("ready")) << pupil->lines().join('\n').toStdString();
  ASSERT_TRUE(pupil->waitFor("rating closed"));

  answerNextBox(true);
  part<QPushButton>("btnStopClass")->click();
  ASSERT_TRUE(pupil->waitFor("rating open")) << pupil->lines().join('\n').toStdString();
  const int mark = pupil->mark();
  pupil->send(QStringLiteral("rate 80 讲得清楚，例题很好"));
  EXPECT_TRUE(pupil->waitFor(QStringLiteral("toast 评价成功！"), mark))
      << pupil->lines().join('\n').toStdString();
  EXPECT_TRUE(pupil->waitFor("rating closed", mark));

  const QJsonObject summary =
      postAndWait(ServiceApi::kFindEvaluationSummary,
                  FormBody(ServiceApi::kFindEvaluationSummary.body).arg(kRoom));
  ASSERT_EQ(summary.value("code").toInt(-1), 0) << QJsonDocument(summary).toJson().toStdString();
  const QJsonObject latest =
      summary.value("body").toObject().value("latest").toArray().first().toObject();
  EXPECT_EQ(latest.value("score").toInt(), 80);
  EXPECT_EQ(latest.value("content").toString(), QStringLiteral("讲得清楚，例题很好"));
}

TEST_F(EvaluationE2E, AnnouncementsReachStudentsAndBulletinsTurn) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  auto* bar = part<AnnouncementBar>();
  ASSERT_TRUE(waitUntil([&] { return !bar->announcementText().isEmpty(); }));
  // The demo's bulletins take turns.
  ASSERT_TRUE(waitUntil([&] { return !bar->bulletinText().isEmpty(); }));
  const QString firstBulletin = bar->bulletinText();
  bar->timerBulletin_timeout();
  EXPECT_NE(bar->bulletinText(), firstBulletin);

  bar->openDialog();
  ClassAnnouncementDialog* dialog = bar->dialog();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(
      waitUntil([&] { return dialog->findChild<QListWidget*>("announcementList")->count() > 0; }));
  const int before = dialog->findChild<QListWidget*>("announcementList")->count();
  dialog->findChild<QLineEdit*>("announcementTitle")->setText(QStringLiteral("周六加课"));
  dialog->findChild<QPlainTextEdit*>("announcementContent")
      ->setPlainText(QStringLiteral("本周六下午两点加一节复习课。"));
  dialog->slot_btnOK();
  ASSERT_TRUE(waitUntil(
      [&] { return dialog->findChild<QListWidget*>("announcementList")->count() == before + 1; }));
  EXPECT_TRUE(waitUntil([&] { return bar->announcementText() == QStringLiteral("周六加课"); }));
  EXPECT_EQ(studentSees(), QStringLiteral("周六加课"));

  // Deleting it: the newest is the first row.
  dialog->findChild<QListWidget*>("announcementList")->setCurrentRow(0);
  dialog->slot_PButtonDelete();
  ASSERT_TRUE(waitUntil(
      [&] { return dialog->findChild<QListWidget*>("announcementList")->count() == before; }));
  EXPECT_NE(studentSees(), QStringLiteral("周六加课"));
}

// The announcement label and the bulletins, and the announcement dialog's
// rules: what is refused before any request, one publication at a time, user
// texts shown as text.
#include <gtest/gtest.h>

#include <QApplication>
#include <QJsonDocument>

#include <QJsonArray>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>

#include "AnnouncementBar.h"
#include "ClassAnnouncementDialog.h"
#include "ClassroomRig.h"
#include "HttpRequest.h"
#include "MarqueeLabel.h"
#include "Prompt.h"
#include "TestSupport.h"

namespace {

QString takeToast() {
  const QString text = Prompt::instance()->text();
  Prompt::instance()->setText(QString());
  return text;
}

QJsonObject bulletins(std::initializer_list<const char*> titles) {
  QJsonArray body;
  int id = 1;
  for (const char* title : titles)
    body.append(QJsonObject{{"id", id++}, {"bulletinTitle", QString::fromUtf8(title)}});
  return QJsonObject{{"code", 0}, {"body", body}};
}

}  // namespace

TEST(AnnouncementBarTest, LatestAnnouncementAndBulletinsTakingTurns) {
  testsupport::TempHome home;
  ClassroomRig rig;
  AnnouncementBar bar(rig.context);
  bar.onInitAnnouncement(QJsonArray{});
  EXPECT_EQ(bar.announcementText(), QStringLiteral("点击发布公告！"));
  const QString markup = QStringLiteral("<b>期中</b> & 复习");
  bar.onInitAnnouncement(QJsonArray{QJsonObject{{"title", markup}}});
  EXPECT_EQ(bar.announcementText(), markup);
  // Shown as the text it is; the tooltip is escaped.
  auto* label = bar.findChild<MarqueeLabel*>("announcementLabel");
  EXPECT_EQ(label->text(), markup);
  EXPECT_EQ(label->toolTip(), QStringLiteral("<qt>%1</qt>").arg(markup.toHtmlEscaped()));
  // A title that does not fit runs; one that fits stands.
  label->resize(220, 24);
  EXPECT_FALSE(label->running());
  bar.onInitAnnouncement(QJsonArray{QJsonObject{{"title", QString(40, QChar(0x957f))}}});
  EXPECT_TRUE(label->running());
  ASSERT_TRUE(testsupport::waitUntil([&] { return label->offset() > 0; }));

  // Not readable: the last title stays (a blank label says nothing).
  bar.onAnnouncementFailed(QJsonObject());
  EXPECT_EQ(label->text(), QString(40, QChar(0x957f)));
  AnnouncementBar fresh(rig.context);
  fresh.onAnnouncementFailed(QJsonObject());
  EXPECT_EQ(fresh.findChild<MarqueeLabel*>("announcementLabel")->text(),
            QStringLiteral("公告加载失败"));

  // A single bulletin stays while the timer runs.
  bar.onGetBulletin(bulletins({"系统维护通知"}));
  EXPECT_TRUE(bar.findChild<QTimer*>("bulletinTimer")->isActive());
  EXPECT_EQ(bar.findChild<QTimer*>("bulletinTimer")->interval(), 10000);
  bar.timerBulletin_timeout();
  bar.timerBulletin_timeout();
  EXPECT_EQ(bar.bulletinText(), QStringLiteral("系统维护通知"));
  // Three take turns and wrap.
  bar.onGetBulletin(bulletins({"一", "二", "三"}));
  EXPECT_EQ(bar.bulletinText(), QStringLiteral("一"));
  QStringList seen;
  for (int i = 0; i < 4; ++i) {
    bar.timerBulletin_timeout();
    seen << bar.bulletinText();
  }
  EXPECT_EQ(seen, QStringList({"二", "三", "一", "二"}));
}

TEST(ClassAnnouncementDialogTest, RefusalsComeBeforeAnyRequestAndOnePublicationAtATime) {
  testsupport::TempHome home;
  ClassroomRig rig;
  rig.session.setOwnRole(RoomContext::kTeacher, false);
  // Opened over the classroom, as the title bar opens it: its refusals show
  // over it, where the member looks, not over the classroom behind it.
  rig.window.show();
  ClassAnnouncementDialog dialog(rig.context, &rig.window);
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  takeToast();
  const int pending = HttpRequest::pendingCount();
  dialog.slot_btnOK();
  EXPECT_EQ(Prompt::instance()->parentWidget(), &dialog);
  EXPECT_EQ(takeToast(), QStringLiteral("请填写公告标题！"));
  dialog.findChild<QLineEdit*>("announcementTitle")->setText(QString(21, QChar(0x9898)));
  EXPECT_TRUE(dialog.findChild<QLineEdit*>("announcementTitle")->styleSheet().contains("red"));
  dialog.slot_btnOK();
  EXPECT_EQ(takeToast(), QStringLiteral("公告标题过长！"));
  dialog.findChild<QLineEdit*>("announcementTitle")->setText(QString(20, QChar(0x9898)));
  EXPECT_TRUE(dialog.findChild<QLineEdit*>("announcementTitle")->styleSheet().contains("black"));
  dialog.findChild<QPlainTextEdit*>("announcementContent")->setPlainText(QString(201, 'x'));
  dialog.slot_btnOK();
  EXPECT_EQ(takeToast(), QStringLiteral("公告内容过长！"));
  EXPECT_EQ(HttpRequest::pendingCount(), pending);

  dialog.findChild<QPlainTextEdit*>("announcementContent")->setPlainText(QString(200, 'x'));
  dialog.slot_btnOK();
  EXPECT_EQ(HttpRequest::pendingCount(), pending + 1);
  EXPECT_FALSE(
      dialog.findChild<QPushButton*>("btnOK")->isEnabled());  // a second click sends nothing
  dialog.findChild<QPushButton*>("btnOK")->click();
  EXPECT_EQ(HttpRequest::pendingCount(), pending + 1);
  dialog.slot_ReleaseAnnouncement(QJsonObject{{"code", 1}});
  EXPECT_EQ(takeToast(), QStringLiteral("公告发布失败！"));
  EXPECT_TRUE(dialog.findChild<QPushButton*>("btnOK")->isEnabled());

  // Published: the members in class hear of it on the room channel, and a bar
  // that hears of it reads the latest from the service again.
  dialog.slot_btnOK();
  dialog.slot_ReleaseAnnouncement(QJsonObject{{"code", 0}});
  ASSERT_FALSE(rig.channel.sent.isEmpty());
  const QJsonObject told = QJsonDocument::fromJson(rig.channel.sent.last().text).object();
  EXPECT_EQ(told.value("typeId").toString(), QStringLiteral("62"));
  EXPECT_EQ(told.value("title").toString(), QString(20, QChar(0x9898)));
  AnnouncementBar bar(rig.context);
  const int before = HttpRequest::pendingCount();
  QJsonObject heard = told;
  heard.insert("sendUserId", "10005");
  rig.dispatch.dispatch(heard);
  EXPECT_EQ(HttpRequest::pendingCount(), before + 1);
}

TEST(ClassAnnouncementDialogTest, TheViewShowsUserTextAsTextAndBookingPagesBound) {
  testsupport::TempHome home;
  ClassroomRig rig(10003, 10001);
  rig.session.setOwnRole(RoomContext::kStudent, false);
  ClassAnnouncementDialog dialog(rig.context);
  const QString title = QStringLiteral("<img src=x>标题");
  dialog.slot_GetAnnouncement(QJsonArray{QJsonObject{{"id", 3},
                                                     {"title", title},
                                                     {"announcementInfo", "第一行\n<b>第二行</b>"},
                                                     {"createTime", "2026-12-08 10:00"}}});
  EXPECT_EQ(dialog.findChild<QListWidget*>("announcementList")->count(), 1);
  const QString shown = dialog.findChild<QTextBrowser*>("announcementView")->toPlainText();
  EXPECT_TRUE(shown.contains(title)) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("<b>第二行</b>")));
  // Students see no publish or delete.
  EXPECT_TRUE(dialog.findChild<QPushButton*>("btnDeleteAnnouncement")->isHidden());

  QJsonArray rows;
  for (int i = 0; i < 10; ++i)
    rows.append(QJsonObject{{"nickName", QString("学员%1").arg(i)}});
  dialog.slot_GetYueKeList(
      QJsonObject{{"code", 0}, {"body", QJsonObject{{"totalPages", 2}, {"rows", rows}}}});
  EXPECT_EQ(dialog.bookingRows(), 10);
  EXPECT_FALSE(dialog.findChild<QPushButton*>("btnLeft")->isEnabled());
  EXPECT_TRUE(dialog.findChild<QPushButton*>("btnRight")->isEnabled());
  dialog.slot_PButtonRight();
  EXPECT_EQ(dialog.bookingPage(), 2);
  EXPECT_TRUE(dialog.findChild<QPushButton*>("btnLeft")->isEnabled());
  EXPECT_FALSE(dialog.findChild<QPushButton*>("btnRight")->isEnabled());
  dialog.slot_PButtonRight();  // the last page: nowhere further
  EXPECT_EQ(dialog.bookingPage(), 2);
}

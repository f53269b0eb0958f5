#include "MemberListWidget.h"
#include "UserItem.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

#include <QLabel>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

namespace {

QList<quint32> ids(const QList<UserItem*>& items) {
  QList<quint32> out;
  for (UserItem* item : items)
    out.append(item->userId());
  return out;
}

TEST(UserItemTest, MissingDeviceIconReplacesOnOff) {
  UserItem item(9, QStringLiteral("小红"), 2);
  EXPECT_EQ(item.videoIconPath(), QStringLiteral(":/res/room/videoOff.png"));
  EXPECT_EQ(item.audioIconPath(), QStringLiteral(":/res/room/audioOff.png"));
  item.setVideoOn(true);
  item.setAudioOn(true);
  EXPECT_EQ(item.videoIconPath(), QStringLiteral(":/res/room/videoOn.png"));
  EXPECT_EQ(item.audioIconPath(), QStringLiteral(":/res/room/audioOn.png"));

  item.setDeviceMask(2);  // microphone only
  EXPECT_FALSE(item.hasCamera());
  EXPECT_TRUE(item.hasMicrophone());
  EXPECT_EQ(item.videoIconPath(), QStringLiteral(":/res/room/无摄像头.png"));
  EXPECT_EQ(item.audioIconPath(), QStringLiteral(":/res/room/audioOn.png"));
  item.setDeviceMask(1);
  EXPECT_EQ(item.videoIconPath(), QStringLiteral(":/res/room/videoOn.png"));
  EXPECT_EQ(item.audioIconPath(), QStringLiteral(":/res/room/无麦.png"));
  // The flags stay as reported even while the icon shows the missing device.
  EXPECT_TRUE(item.isAudioOn());

  for (const QString& path :
       {QStringLiteral(":/res/room/无摄像头.png"), QStringLiteral(":/res/room/无麦.png"),
        QStringLiteral(":/res/room/videoOff.png"), QStringLiteral(":/res/room/audioOff.png")})
    EXPECT_FALSE(QPixmap(path).isNull()) << path.toStdString();
}

TEST(UserItemTest, ClicksAndMarks) {
  UserItem item(77, QStringLiteral("小刚"), 2);
  item.resize(300, 36);
  item.show();
  QSignalSpy video(&item, &UserItem::signalVideoClicked);
  QSignalSpy audio(&item, &UserItem::signalAudioClicked);
  QSignalSpy menu(&item, &UserItem::signalContextMenu);
  QTest::mouseClick(item.findChild<QToolButton*>(QStringLiteral("btnUserVideo")), Qt::LeftButton);
  QTest::mouseClick(item.findChild<QToolButton*>(QStringLiteral("btnUserAudio")), Qt::LeftButton);
  QTest::mouseClick(&item, Qt::RightButton, {}, QPoint(100, 10));
  ASSERT_EQ(video.count(), 1);
  EXPECT_EQ(video.at(0).at(0).value<quint32>(), 77u);
  ASSERT_EQ(audio.count(), 1);
  EXPECT_EQ(audio.at(0).at(0).value<quint32>(), 77u);
  ASSERT_EQ(menu.count(), 1);
  EXPECT_EQ(menu.at(0).at(0).value<quint32>(), 77u);
  EXPECT_EQ(menu.at(0).at(1).toPoint(), item.mapToGlobal(QPoint(100, 10)));

  EXPECT_FALSE(item.isChecked());
  item.setChecked(true);
  item.setHandUp(true);
  item.setMuted(true);
  item.setLevel(QStringLiteral("Lv3"));
  EXPECT_TRUE(item.isChecked());
  EXPECT_TRUE(item.isHandUp());
  EXPECT_TRUE(item.isMuted());
  EXPECT_EQ(item.level(), QStringLiteral("Lv3"));
}

// Names are typed by other users: markup in one stays text (the tile has the same test).
TEST(UserItemTest, NamesAreNeverMarkup) {
  const QString name = QStringLiteral("<b>小明</b><img src=x>");
  UserItem item(7, name, 2);
  EXPECT_TRUE(testsupport::showsAsPlainText(item, name));
}

// The medal badge: the service's name as text, shown only while there is one.
TEST(UserItemTest, MedalBadgeIsTextAndGoesWithTheMedal) {
  UserItem item(7, QStringLiteral("小明"), 2);
  item.show();
  auto* badge = item.findChild<QLabel*>(QStringLiteral("userMedalMark"));
  ASSERT_TRUE(badge);
  EXPECT_FALSE(badge->isVisible());
  const QString medal = QStringLiteral("<b>星</b>");
  item.setMedal(medal);
  EXPECT_TRUE(badge->isVisible());
  EXPECT_EQ(badge->textFormat(), Qt::PlainText);
  EXPECT_EQ(badge->text(), medal);
  EXPECT_TRUE(badge->toolTip().contains(medal.toHtmlEscaped()));
  // A long name is shortened in the row; the tooltip keeps it whole.
  const QString longMedal = QStringLiteral("本学期最认真听讲的优秀学员");
  item.setMedal(longMedal);
  EXPECT_NE(badge->text(), longMedal);
  EXPECT_LE(badge->sizeHint().width(), badge->maximumWidth());
  EXPECT_TRUE(badge->toolTip().contains(longMedal));
  item.setMedal(QString());
  EXPECT_FALSE(badge->isVisible());
}

TEST(MemberListWidgetTest, GroupsInOrderWithCounts) {
  MemberListWidget list;
  list.addUser(11, QStringLiteral("学生一"), 2, MemberListWidget::Student);
  list.addUser(12, QStringLiteral("学生二"), 2, MemberListWidget::Student);
  list.addUser(30, QStringLiteral("家长"), 3, MemberListWidget::Parent);
  list.addUser(1, QStringLiteral("老师"), 1, MemberListWidget::Teacher);
  list.addUser(20, QStringLiteral("助教"), 2, MemberListWidget::Assistant);
  list.addUser(13, QStringLiteral("学生三"), 2, MemberListWidget::Student);

  EXPECT_EQ(ids(list.items()), (QList<quint32>{1, 20, 11, 12, 13, 30}));
  EXPECT_EQ(list.headerText(MemberListWidget::Student), QStringLiteral("学生 (3)"));
  EXPECT_EQ(list.headerText(MemberListWidget::Teacher), QStringLiteral("老师 (1)"));
  EXPECT_EQ(list.countText(), QStringLiteral("在线人数：6"));
  EXPECT_TRUE(list.isSectionShown(MemberListWidget::Parent));
  EXPECT_FALSE(list.isSectionShown(MemberListWidget::Inspector));
  EXPECT_FALSE(list.isSectionShown(MemberListWidget::Auditor));

  // A known id is not listed twice.
  EXPECT_EQ(list.addUser(12, QStringLiteral("改名"), 2, MemberListWidget::Student),
            list.findUser(12));
  EXPECT_EQ(list.count(), 6);
  EXPECT_EQ(list.findUser(12)->userName(), QStringLiteral("改名"));

  // Promoted to assistant: moves to the end of that group, counts follow.
  ASSERT_TRUE(list.setGroup(11, MemberListWidget::Assistant));
  EXPECT_EQ(ids(list.items()), (QList<quint32>{1, 20, 11, 12, 13, 30}));
  EXPECT_EQ(list.groupOf(11), MemberListWidget::Assistant);
  EXPECT_EQ(list.headerText(MemberListWidget::Assistant), QStringLiteral("助教 (2)"));
  EXPECT_EQ(list.headerText(MemberListWidget::Student), QStringLiteral("学生 (2)"));
  ASSERT_TRUE(list.setGroup(20, MemberListWidget::Student));
  EXPECT_EQ(ids(list.items()), (QList<quint32>{1, 11, 12, 13, 20, 30}));

  EXPECT_TRUE(list.removeUser(30));
  EXPECT_FALSE(list.removeUser(30));
  EXPECT_EQ(list.findUser(30), nullptr);
  EXPECT_FALSE(list.isSectionShown(MemberListWidget::Parent));
  EXPECT_EQ(list.countText(), QStringLiteral("在线人数：5"));
  EXPECT_FALSE(list.setGroup(30, MemberListWidget::Student));

  list.clear();
  EXPECT_TRUE(list.items().isEmpty());
  EXPECT_EQ(list.countText(), QStringLiteral("在线人数：0"));
  EXPECT_FALSE(list.isSectionShown(MemberListWidget::Student));
}

// Members without the bulk buttons see no tick boxes, on rows made before and after.
TEST(MemberListWidgetTest, TickBoxesOnlyWhenSelectable) {
  MemberListWidget list;
  UserItem* before = list.addUser(1, QStringLiteral("a"), 2, MemberListWidget::Student);
  before->setChecked(true);
  list.setSelectable(false);
  UserItem* after = list.addUser(2, QStringLiteral("b"), 2, MemberListWidget::Student);
  EXPECT_FALSE(before->isCheckVisible());
  EXPECT_FALSE(before->isChecked());  // a hidden tick must not drive a bulk action
  EXPECT_FALSE(after->isCheckVisible());
  list.setSelectable(true);
  EXPECT_TRUE(before->isCheckVisible());
  EXPECT_TRUE(after->isCheckVisible());
}

TEST(MemberListWidgetTest, ForwardsRowSignals) {
  MemberListWidget list;
  UserItem* item = list.addUser(5, QStringLiteral("小李"), 2, MemberListWidget::Student);
  list.resize(280, 400);
  list.show();
  QSignalSpy audio(&list, &MemberListWidget::signalAudioClicked);
  QSignalSpy menu(&list, &MemberListWidget::signalContextMenu);
  QTest::mouseClick(item->findChild<QToolButton*>(QStringLiteral("btnUserAudio")), Qt::LeftButton);
  QTest::mouseClick(item, Qt::RightButton, {}, QPoint(5, 5));
  ASSERT_EQ(audio.count(), 1);
  EXPECT_EQ(audio.at(0).at(0).value<quint32>(), 5u);
  ASSERT_EQ(menu.count(), 1);
}

}  // namespace

// The shared area without servers: what the sharer sends for rotation, pages,
// display mode and drags (and what it refuses to send), what members show for
// the states they receive, the newcomer's question, and taking the right from
// another sharer.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QJsonDocument>

#include "BoardCanvas.h"
#include "ClassroomRig.h"
#include "PicRenderWidget.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "ShareRules.h"
#include "SharedArea.h"
#include "TestSupport.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;

struct CountingCanvas : BoardCanvas {
  int clears = 0;
  int placed = 0;
  void placeCanvas() override { ++placed; }
  void clearBoard() override { ++clears; }
  bool canvasShown() const override { return false; }
  bool hasShapes() const override { return false; }
};

void writePng(const QString& path, const QSize& size, QColor colour) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QImage image(size, QImage::Format_RGB32);
  image.fill(colour);
  ASSERT_TRUE(image.save(path, "PNG"));
}

struct SharedAreaTest : ::testing::Test {
  explicit SharedAreaTest(quint32 own = kTeacher) : rig(own, kTeacher) {
    rig.session.setOwnRole(own == kTeacher ? RoomContext::kTeacher : RoomContext::kStudent, false);
    rig.connectMedia();
    rig.context.provide<BoardCanvas>(&canvas);
    area.setDataFolder(home.home() + "/data/");
    area.view()->resize(600, 400);
    area.view()->show();
    rig.session.classStarted(kTeacher);
    rig.session.setClassingUser(kTeacher);
  }
  // Peer messages sent so far, as objects, and forgets them.
  QList<QJsonObject> takeSent() {
    QList<QJsonObject> out;
    for (const PeerSend& s : rig.peer.sent)
      out << QJsonDocument::fromJson(s.data).object();
    rig.peer.sent.clear();
    return out;
  }
  void shareDocument(int pages) {
    for (int i = 1; i <= pages; ++i)
      writePng(area.pageFile("lesson", i), {1000, 800}, QColor(i * 40, 0, 0));
    area.onSharingDocument(7, "lesson", pages);
  }
  void receive(QJsonObject msg) { rig.dispatch.dispatch(msg); }

  testsupport::TempHome home;
  ClassroomRig rig;
  CountingCanvas canvas;
  SharedArea area{rig.context};
};

struct StudentArea : SharedAreaTest {
  StudentArea() : SharedAreaTest(kStudent) {}
};

}  // namespace

TEST_F(SharedAreaTest, FourForwardRotationsReturnToZeroAndClearTheBoardEachTime) {
  shareDocument(2);
  ASSERT_EQ(area.state().mode, 3);
  takeSent();
  const int clearsBefore = canvas.clears;
  for (int i = 1; i <= 4; ++i) {
    area.btnForwardRotate_clicked();
    const QList<QJsonObject> sent = takeSent();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(roommsg::typeIdOf(sent[0]), MSG_PIC_ROTATE);
    EXPECT_EQ(sent[0].value("curRotateAngle").toInt(), (i * 90) % 360);
    EXPECT_EQ(canvas.clears, clearsBefore + i);
  }
  EXPECT_EQ(area.state().rotation, 0);
  area.btnForwardRotate_clicked();
  // A quarter turn shows the page on its side.
  EXPECT_EQ(area.state().rotation, 90);
  EXPECT_EQ(area.view()->picture().size(), QSize(800, 1000));
}

TEST_F(SharedAreaTest, PageTurnsStopAtTheEndsWithoutSending) {
  shareDocument(3);
  const QList<QJsonObject> started = takeSent();
  ASSERT_EQ(started.size(), 1);
  EXPECT_EQ(started[0].value("fileType").toString(), "3");
  EXPECT_EQ(started[0].value("curPage").toInt(), 1);
  EXPECT_EQ(started[0].value("totalPageCount").toInt(), 3);

  area.btnPreviousPic_clicked();
  EXPECT_TRUE(takeSent().isEmpty());
  area.btnNextPic_clicked();
  area.btnNextPic_clicked();
  const QList<QJsonObject> turns = takeSent();
  ASSERT_EQ(turns.size(), 2);
  EXPECT_EQ(turns[1].value("curPage").toInt(), 3);
  EXPECT_EQ(turns[1].value("rect").toObject().value("y").toInt(), 0);
  EXPECT_EQ(area.state().page, 3);
  EXPECT_EQ(area.picture().toImage().pixelColor(0, 0), QColor(120, 0, 0));
  area.btnNextPic_clicked();
  EXPECT_TRUE(takeSent().isEmpty());
  area.btnGoToPic_clicked(7);
  EXPECT_TRUE(takeSent().isEmpty());
  area.btnGoToPic_clicked(0);
  EXPECT_EQ(takeSent().size(), 1);
  EXPECT_EQ(area.state().page, 1);
}

TEST_F(SharedAreaTest, ActualSizeDragsStayInsideThePicture) {
  shareDocument(1);
  EXPECT_FALSE(area.controlBar()->findChild<QWidget*>("btnPicAdaptWnd")->isHidden());
  area.btnPicAdaptWnd_clicked();
  ASSERT_EQ(area.state().displayMode, 1);
  EXPECT_EQ(area.state().rect, QRect(0, 0, 600, 400));
  EXPECT_EQ(area.view()->picture().size(), QSize(600, 400));
  takeSent();

  area.picDispWidget_mouseMove(10, 0);  // would show what lies left of the picture
  EXPECT_TRUE(takeSent().isEmpty());
  EXPECT_EQ(area.state().rect, QRect(0, 0, 600, 400));
  area.picDispWidget_mouseMove(-50, -20);
  const QList<QJsonObject> moved = takeSent();
  ASSERT_EQ(moved.size(), 1);
  EXPECT_EQ(roommsg::typeIdOf(moved[0]), MSG_PIC_DRAG);
  EXPECT_EQ(share::rectOf(moved[0]), QRect(50, 20, 600, 400));
  EXPECT_EQ(area.state().rect, QRect(50, 20, 600, 400));

  // A larger area shows a larger part, and says so.
  area.view()->resize(700, 500);
  const QList<QJsonObject> resized = takeSent();
  ASSERT_FALSE(resized.isEmpty());
  EXPECT_EQ(roommsg::typeIdOf(resized.last()), MSG_PIC_RESIZE);
  EXPECT_EQ(area.state().rect, QRect(50, 20, 700, 500));
}

TEST_F(SharedAreaTest, TakingTheRightFromAnotherSharerWaitsForTheGrant) {
  rig.session.setScreenSharer(10005);
  shareDocument(2);
  EXPECT_EQ(rig.media.shareCalls, (QList<int64_t>{10005, 0}));
  EXPECT_TRUE(takeSent().isEmpty());  // nothing until the right is granted
  area.start_share_ack(0);
  EXPECT_TRUE(area.isSharer());
  ASSERT_EQ(takeSent().size(), 1);

  // A newcomer asks; only the asker is answered, with the current state.
  QJsonObject query = roommsg::newMessage(MSG_SHARE_STATE_QUERY);
  query.insert("sendUserId", double(kStudent));
  receive(query);
  ASSERT_EQ(rig.peer.sent.size(), 1);
  EXPECT_FALSE(rig.peer.sent[0].all);
  EXPECT_EQ(rig.peer.sent[0].target, kStudent);
  EXPECT_EQ(takeSent()[0].value("fileName").toString(), "lesson");
}

TEST_F(StudentArea, WhatAnAssistantSharesEndsWithTheRight) {
  rig.session.setAssistant(true);
  shareDocument(2);
  area.start_share_ack(0);
  ASSERT_TRUE(area.isSharer());
  rig.media.shareCalls.clear();
  rig.session.setAssistant(false);
  EXPECT_EQ(rig.media.shareCalls, (QList<int64_t>{kStudent}));
}

TEST_F(StudentArea, MembersFollowTheStateAndItsControlMessages) {
  // The pages are here already (fetched before): no file server needed.
  for (int i = 1; i <= 2; ++i)
    writePng(area.pageFile("lesson", i), {1000, 800}, QColor(0, i * 50, 0));
  QJsonObject state = roommsg::newMessage(MSG_SHARE_STATE);
  state.insert("fileType", "3");
  state.insert("fileName", "lesson");
  state.insert("fileUploaderUserId", double(kTeacher));
  state.insert("curPage", 1);
  state.insert("totalPageCount", 2);
  state.insert("curRotateAngle", 0);
  state.insert("picDispMode", 0);
  receive(state);
  EXPECT_EQ(area.state().mode, 3);
  EXPECT_EQ(area.picture().toImage().pixelColor(0, 0), QColor(0, 50, 0));
  EXPECT_TRUE(area.controlBar()->isHidden());  // only the sharer steers

  QJsonObject turn = roommsg::newMessage(MSG_PAGE_TURN);
  turn.insert("curPage", 2);
  receive(turn);
  EXPECT_EQ(area.picture().toImage().pixelColor(0, 0), QColor(0, 100, 0));
  turn.insert("curPage", 9);  // beyond the document: ignored
  receive(turn);
  EXPECT_EQ(area.state().page, 2);

  QJsonObject rotate = roommsg::newMessage(MSG_PIC_ROTATE);
  rotate.insert("curRotateAngle", 270);
  receive(rotate);
  EXPECT_EQ(area.view()->placement(), PicRenderWidget::kFit);
  EXPECT_EQ(area.view()->picture().size(), QSize(800, 1000));

  QJsonObject fit = roommsg::newMessage(MSG_PIC_FIT);
  fit.insert("picDispMode", 1);
  fit.insert("rect", share::rectJson(QRect(100, 200, 300, 250)));
  receive(fit);
  EXPECT_EQ(area.view()->placement(), PicRenderWidget::kActual);
  EXPECT_EQ(area.view()->picture().size(), QSize(300, 250));

  // A student without the teaching tool shares nothing.
  area.onSharingDocument(3, "lesson", 2);
  EXPECT_TRUE(rig.media.shareCalls.isEmpty());
  EXPECT_EQ(area.state().page, 2);

  // A name that climbs out of the folder is not followed.
  state.insert("fileName", "../../etc");
  receive(state);
  EXPECT_EQ(area.state().fileName, "lesson");
  // The class ends: the area is empty again.
  rig.session.classStopped();
  EXPECT_EQ(area.state().mode, 0);
  EXPECT_TRUE(area.view()->picture().isNull());
}

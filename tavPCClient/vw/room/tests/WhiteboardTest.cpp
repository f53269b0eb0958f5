// The whiteboard in the classroom: a member asking for the board gets it in
// the order that rebuilds exactly the same board, messages outside a class
// do nothing, and the drawing layer goes to the media library and recorder.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>

#include "VWAnnoHandler.h"
#include "VWShapeDigest.h"
#include "WhiteboardRig.h"
#include "eventually.h"

namespace {

using testsupport::eventually;

void draw(vw::VWPaintWidget& canvas, int type, QPointF from, QPointF to) {
  canvas.setShape(type, 3, 0, 128, 255, 255);
  canvas.beginShape(from);
  canvas.continueShape((from + to) / 2);
  canvas.continueShape(to);
  canvas.finishShape();
}

TEST(WhiteboardTest, AnEmptyBoardNobodyWritesOnAnswersMinusOneOnly) {
  WhiteboardRig t;
  t.takeSent();
  t.receive(20002, boardMsg(ANNO_SYNC_REQUEST));
  const auto sent = t.takeSent();
  ASSERT_EQ(sent.size(), 1);
  EXPECT_EQ(sent[0].target, 20002u);
  EXPECT_EQ(sent[0].msg.value(KEY_TYPE_ID).toInt(), ANNO_SHAPE);
  EXPECT_EQ(sent[0].msg.value(KEY_CONTENT), QJsonValue("-1"));
  EXPECT_EQ(sent[0].msg.value(KEY_SEND_USER_ID).toInt(), int(WhiteboardRig::kTeacher));
}

TEST(WhiteboardTest, AnEmptyBoardWhileSomebodyWritesAnswersThePenAndAnEmptyShape) {
  WhiteboardRig t;
  t.rig.session.setAnnotating(20003);
  t.takeSent();
  t.receive(20002, boardMsg(ANNO_SYNC_REQUEST));
  const auto sent = t.takeSent();
  ASSERT_EQ(sent.size(), 3);
  EXPECT_EQ(sent[0].msg.value(KEY_TYPE_ID).toInt(), ANNO_PEN);
  EXPECT_EQ(sent[1].msg.value(KEY_CONTENT), QJsonValue(""));
  EXPECT_EQ(sent[2].msg.value(KEY_TYPE_ID).toInt(), ANNO_PEN);
}

// The answer, replayed on a newcomer's canvas, gives the same board and pen,
// without the last shape twice (it usually stays the canvas's current shape).
TEST(WhiteboardTest, TheAnswerRebuildsTheSameBoardAndPenOnANewcomer) {
  WhiteboardRig t;
  draw(t.canvas(), 1, {0.1, 0.1}, {0.3, 0.4});
  draw(t.canvas(), 3, {0.2, 0.2}, {0.123456789, 0.87654321});
  t.canvas().setShape(5, 9, 1, 2, 3, 200);
  ASSERT_TRUE(t.canvas().currentShape());
  t.takeSent();
  t.receive(20002, boardMsg(ANNO_SYNC_REQUEST));
  const auto sent = t.takeSent();
  ASSERT_EQ(sent.size(), 4);
  EXPECT_EQ(sent[0].msg.value(KEY_TYPE_ID).toInt(), ANNO_PEN);
  EXPECT_EQ(sent[1].msg.value(KEY_TYPE_ID).toInt(), ANNO_SHAPE);
  EXPECT_EQ(sent[2].msg.value(KEY_TYPE_ID).toInt(), ANNO_SHAPE);
  EXPECT_EQ(sent[3].msg.value(KEY_TYPE_ID).toInt(), ANNO_PEN);

  vw::VWPaintWidget newcomer(nullptr, nullptr);
  newcomer.resize(400, 300);
  for (const auto& out : sent) {
    EXPECT_EQ(out.target, 20002u);
    for (const auto& action : vw::handleAnnoMessage({20002, true}, out.msg))
      newcomer.apply(action);
  }
  EXPECT_EQ(vw::VWShapeDigest::digest(newcomer.shapeList()),
            vw::VWShapeDigest::digest(t.canvas().shapeList()));
  EXPECT_EQ(newcomer.pen(), t.canvas().pen());
}

TEST(WhiteboardTest, BoardMessagesOutsideAClassChangeNothing) {
  WhiteboardRig t;
  t.rig.session.classStopped();
  t.receive(20002, boardMsg(ANNO_TOOL, 3));
  EXPECT_NE(t.canvas().pen().shapeType, 3);
  t.receive(20002, boardMsg(ANNO_SYNC_REQUEST));
  EXPECT_TRUE(t.takeSent().isEmpty());
}

TEST(WhiteboardTest, AStrokeFromTheHolderIsReplayedAndShowsTheCanvas) {
  WhiteboardRig t;
  t.receive(20003, boardMsg(ANNO_TOOL, 2));
  QJsonObject press = boardMsg(ANNO_POINT, 1);
  press.insert("x", 0.1);
  press.insert("y", 0.2);
  QJsonObject move = boardMsg(ANNO_POINT, 2);
  move.insert("x", 0.9);
  move.insert("y", 0.8);
  t.receive(20003, press);
  t.receive(20003, move);
  t.receive(20003, boardMsg(ANNO_POINT, 3));
  ASSERT_EQ(t.canvas().shapeList().size(), 1);
  EXPECT_EQ(vw::VWShapeDigest::canonicalText(t.canvas().shapeList()),
            "2 255,0,0,255 2 0.1,0.2 0.9,0.8\n");
  t.receive(20003, boardMsg(ANNO_TOOL, 9));
  EXPECT_EQ(t.canvas().shapeList().size(), 1);
  t.receive(20003, boardMsg(ANNO_TOOL, 10));
  EXPECT_TRUE(t.canvas().shapeList().isEmpty());
}

TEST(WhiteboardTest, TheDrawingLayerGoesToTheMediaLibraryOnlyWhileTheOwnScreenIsShared) {
  WhiteboardRig t;
  t.area.label.show();
  t.canvas().show();
  draw(t.canvas(), 3, {0.1, 0.1}, {0.6, 0.6});
  t.canvas().repaint();
  std::vector<uint8_t> buffer(1920 * 1080 * 4);
  int width = -1, height = -1, len = -1;
  t.wb().fillMarkBitmap(buffer.data(), unsigned(buffer.size()), width, height, len);
  EXPECT_EQ(len, 0) << "nothing is kept while nobody shares";

  t.rig.session.setScreenSharer(WhiteboardRig::kTeacher);
  ASSERT_TRUE(eventually([&] {
    QCoreApplication::processEvents();
    t.wb().fillMarkBitmap(buffer.data(), unsigned(buffer.size()), width, height, len);
    return len > 0;
  }));
  EXPECT_EQ(width, 1920);
  EXPECT_EQ(height, 1080);
  EXPECT_EQ(len, 1920 * 1080 * 4);
  // A buffer too small for the layer is left alone.
  int small = -1;
  t.wb().fillMarkBitmap(buffer.data(), 1000, width, height, small);
  EXPECT_EQ(small, 0);

  t.rig.session.setScreenSharer(-1);
  t.wb().fillMarkBitmap(buffer.data(), unsigned(buffer.size()), width, height, len);
  EXPECT_EQ(len, 0);
}

TEST(WhiteboardTest, TheRecorderGetsTheCanvasAsShownInPixelsItOwns) {
  WhiteboardRig t;
  t.area.label.show();
  t.area.label.resize(320, 180);  // the canvas follows the picture
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(t.canvas().geometry(), QRect(0, 0, 320, 180));
  draw(t.canvas(), 4, {0.2, 0.2}, {0.8, 0.8});
  VWTagData data;
  emit t.wb().signal_get_tag_data(&data);
  EXPECT_EQ(data.width, 320);
  EXPECT_EQ(data.height, 180);
  EXPECT_EQ(data.pixels.size(), 320 * 180 * 4);
}

TEST(WhiteboardTest, StoppingTheClassClearsAndHidesTheBoard) {
  WhiteboardRig t;
  t.canvas().show();
  draw(t.canvas(), 2, {0.1, 0.1}, {0.5, 0.5});
  t.wb().classStopping();
  EXPECT_TRUE(t.canvas().shapeList().isEmpty());
  EXPECT_FALSE(t.canvas().isVisible());
}

}  // namespace

namespace {

// A member coming back to a running class replaces its board with the
// starter's: what it had goes, strokes arriving meanwhile wait for the board
// (they are part of it), and after the answer live strokes draw again.
TEST(WhiteboardTest, AskingForTheBoardReplacesTheOwnAndHoldsLiveStrokesUntilItCame) {
  WhiteboardRig t(20002);
  draw(t.canvas(), 2, {0.1, 0.1}, {0.2, 0.2});  // from before the connection was lost
  t.takeSent();
  t.wb().askForBoard(WhiteboardRig::kTeacher);
  EXPECT_TRUE(t.canvas().shapeList().isEmpty());
  const auto asked = t.takeSent();
  ASSERT_EQ(asked.size(), 1);
  EXPECT_EQ(asked[0].target, WhiteboardRig::kTeacher);
  EXPECT_EQ(asked[0].msg.value(KEY_TYPE_ID).toInt(), ANNO_SYNC_REQUEST);

  auto point = [](int phase, double x, double y) {
    QJsonObject msg = boardMsg(ANNO_POINT, phase);
    msg.insert("x", x);
    msg.insert("y", y);
    return msg;
  };
  auto stroke = [&](double y) {
    t.receive(WhiteboardRig::kTeacher, point(1, 0.1, y));
    t.receive(WhiteboardRig::kTeacher, point(2, 0.5, y));
    t.receive(WhiteboardRig::kTeacher, boardMsg(ANNO_POINT, 3));
  };
  stroke(0.3);  // also in the board that comes
  EXPECT_TRUE(t.canvas().shapeList().isEmpty());
  QJsonObject pen{{KEY_TYPE_ID, ANNO_PEN}, {"penShapeType", 2}, {"penWidth", 2},
                  {"penColor", QJsonObject{{"r", 255}, {"g", 0}, {"b", 0}, {"a", 255}}}};
  const QJsonObject line{{"shapeType", 2},
                         {"shapeColor", QJsonObject{{"r", 255}, {"g", 0}, {"b", 0}, {"a", 255}}},
                         {"lineWidth", 2},
                         {"points", QJsonArray{QJsonObject{{"x", "0.1"}, {"y", "0.3"}},
                                               QJsonObject{{"x", "0.5"}, {"y", "0.3"}}}}};
  t.receive(WhiteboardRig::kTeacher, pen);
  t.receive(WhiteboardRig::kTeacher, boardMsg(ANNO_SHAPE, line));
  EXPECT_TRUE(t.wb().awaitingBoard());
  t.receive(WhiteboardRig::kTeacher, pen);
  EXPECT_FALSE(t.wb().awaitingBoard());
  ASSERT_EQ(t.canvas().shapeList().size(), 1);
  stroke(0.6);
  EXPECT_EQ(t.canvas().shapeList().size(), 2);

  // An empty board ends the wait at once.
  t.wb().askForBoard(WhiteboardRig::kTeacher);
  t.receive(WhiteboardRig::kTeacher, boardMsg(ANNO_SHAPE, "-1"));
  EXPECT_FALSE(t.wb().awaitingBoard());
}

}  // namespace

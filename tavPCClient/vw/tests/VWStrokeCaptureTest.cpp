// The holder's strokes as the others receive them: captured from the mouse,
// sent at release as one burst in order, through the send thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSemaphore>
#include <QMouseEvent>
#include <QtTest/QTest>

#include "RecordingLink.h"
#include "RoomMessageTypes.h"
#include "VWPaintInfoSendThead.h"
#include "VWPaintWidget.h"
#include "eventually.h"

namespace {

using testsupport::eventually;
using vw::VWPaintWidget;

void mouse(QWidget& w, QEvent::Type type, QPointF pos, Qt::MouseButton button = Qt::LeftButton) {
  const Qt::MouseButtons held =
      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
  QMouseEvent e(type, pos, type == QEvent::MouseMove ? Qt::NoButton : button, held,
                Qt::NoModifier);
  QApplication::sendEvent(&w, &e);
}

struct Canvas {
  RecordingLink link;
  VWPaintWidget canvas{nullptr, &link};
  Canvas() {
    canvas.resize(400, 200);
    canvas.setShape(1, 2, 255, 0, 0, 255);  // the whole pen at once sends no notice
  }
  // What left through the send thread once it is empty again.
  QVector<RecordingLink::Sent> sentWhenIdle(int expected) {
    EXPECT_TRUE(eventually([&] { return link.sentCount() >= expected && canvas.pendingSends() == 0; }));
    return link.sent();
  }
};

TEST(VWStrokeCaptureTest, AStrokeLeavesAtReleaseInOrderAndAClickSendsNothing) {
  Canvas c;
  // A click without movement: nothing for anybody, no shape.
  mouse(c.canvas, QEvent::MouseButtonPress, {100, 50});
  mouse(c.canvas, QEvent::MouseButtonRelease, {100, 50});
  EXPECT_EQ(c.canvas.captureState(), 2);
  EXPECT_TRUE(c.link.phone.isEmpty());

  // One move: press, move, release, in this order, to everybody and the phone.
  mouse(c.canvas, QEvent::MouseButtonPress, {100, 50});
  mouse(c.canvas, QEvent::MouseMove, {200, 150});
  EXPECT_EQ(c.link.sentCount(), 0) << "nothing travels while the button is held";
  mouse(c.canvas, QEvent::MouseButtonRelease, {200, 150});
  const auto sent = c.sentWhenIdle(3);
  ASSERT_EQ(sent.size(), 3);
  const int phases[] = {1, 2, 3};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(sent[i].target, "*");
    EXPECT_EQ(sent[i].msg.value(KEY_TYPE_ID).toInt(), ANNO_POINT);
    EXPECT_EQ(sent[i].msg.value(KEY_CONTENT).toInt(), phases[i]);
    EXPECT_EQ(sent[i].msg.value(KEY_SEND_USER_ID).toInt(), 7);
  }
  EXPECT_DOUBLE_EQ(sent[0].msg.value("x").toDouble(), 0.25);
  EXPECT_DOUBLE_EQ(sent[0].msg.value("y").toDouble(), 0.25);
  EXPECT_DOUBLE_EQ(sent[1].msg.value("x").toDouble(), 0.5);
  EXPECT_DOUBLE_EQ(sent[1].msg.value("y").toDouble(), 0.75);
  EXPECT_FALSE(sent[2].msg.contains("x"));
  ASSERT_EQ(c.link.phone.size(), 3);
  EXPECT_EQ(c.link.phone[1], sent[1].msg);
  EXPECT_EQ(c.canvas.shapeList().size(), 1);
}

TEST(VWStrokeCaptureTest, OnlyTheHolderDrawsAndAnUnreleasedStrokeIsDropped) {
  Canvas c;
  c.link.annotating = false;
  mouse(c.canvas, QEvent::MouseButtonPress, {10, 10});
  mouse(c.canvas, QEvent::MouseMove, {300, 150});
  mouse(c.canvas, QEvent::MouseButtonRelease, {300, 150});
  EXPECT_TRUE(c.canvas.shapeList().isEmpty());
  EXPECT_EQ(c.canvas.captureState(), 0);

  c.link.annotating = true;
  // A press whose release never came (the window lost the mouse) is replaced
  // by the next press; only the second stroke travels.
  mouse(c.canvas, QEvent::MouseButtonPress, {10, 10});
  mouse(c.canvas, QEvent::MouseMove, {20, 20});
  mouse(c.canvas, QEvent::MouseButtonPress, {100, 100});
  mouse(c.canvas, QEvent::MouseMove, {120, 100});
  mouse(c.canvas, QEvent::MouseMove, {140, 100});
  mouse(c.canvas, QEvent::MouseButtonRelease, {140, 100});
  const auto sent = c.sentWhenIdle(4);
  ASSERT_EQ(sent.size(), 4);
  EXPECT_DOUBLE_EQ(sent[0].msg.value("x").toDouble(), 0.25);
  // A right-button release does not end a stroke.
  mouse(c.canvas, QEvent::MouseButtonPress, {10, 10});
  mouse(c.canvas, QEvent::MouseMove, {50, 50});
  mouse(c.canvas, QEvent::MouseButtonRelease, {50, 50}, Qt::RightButton);
  EXPECT_EQ(c.canvas.captureState(), 1);
}

TEST(VWStrokeCaptureTest, StrokesWhileDisconnectedAreDroppedNotKeptForLater) {
  Canvas c;
  c.link.connected = false;
  mouse(c.canvas, QEvent::MouseButtonPress, {10, 10});
  mouse(c.canvas, QEvent::MouseMove, {50, 50});
  mouse(c.canvas, QEvent::MouseButtonRelease, {50, 50});
  ASSERT_TRUE(eventually([&] { return c.canvas.pendingSends() == 0; }));
  c.link.connected = true;
  mouse(c.canvas, QEvent::MouseButtonPress, {10, 10});
  mouse(c.canvas, QEvent::MouseMove, {60, 60});
  mouse(c.canvas, QEvent::MouseButtonRelease, {60, 60});
  const auto sent = c.sentWhenIdle(3);
  ASSERT_EQ(sent.size(), 3);
  EXPECT_DOUBLE_EQ(sent[1].msg.value("x").toDouble(), 0.15);
}

TEST(VWStrokeCaptureTest, ToolChoicesTravelBehindTheStrokesAndTheToolNoticeIsAString) {
  Canvas c;
  for (int i = 0; i < 20; ++i) {
    mouse(c.canvas, QEvent::MouseButtonPress, {10, 10});
    for (int x = 11; x < 60; ++x)
      mouse(c.canvas, QEvent::MouseMove, {double(x), 20});
    mouse(c.canvas, QEvent::MouseButtonRelease, {60, 20});
  }
  const QJsonObject colour{{KEY_TYPE_ID, ANNO_COLOR}, {KEY_SEND_USER_ID, 7},
                           {KEY_CONTENT, QJsonObject{{"r", 0}, {"g", 0}, {"b", 255}, {"a", 255}}}};
  c.canvas.broadcast(colour);
  c.canvas.setShape(3);
  const int strokes = 20 * 51;
  const auto sent = c.sentWhenIdle(strokes + 2);
  ASSERT_EQ(sent.size(), strokes + 2);
  EXPECT_EQ(sent[strokes - 1].msg.value(KEY_CONTENT).toInt(), 3);  // the last release
  EXPECT_EQ(sent[strokes].msg, colour);
  const QJsonObject notice = sent[strokes + 1].msg;
  EXPECT_EQ(notice.value(KEY_TYPE_ID), QJsonValue("103"));
  EXPECT_EQ(notice.value(KEY_CONTENT), QJsonValue("3"));
  EXPECT_EQ(c.link.phone.last(), notice);

  // Replaying somebody else's tool choice sends nothing.
  c.link.annotating = false;
  c.canvas.setShape(4);
  EXPECT_EQ(c.canvas.pen().shapeType, 4);
  EXPECT_EQ(c.canvas.pendingSends(), 0);
  EXPECT_EQ(c.link.sentCount(), strokes + 2);
}

// A link that holds the first send until released, so the queue is full when
// the sender is destroyed.
struct BlockingLink : RecordingLink {
  QSemaphore gate;
  std::atomic<int> entered{0};
  int sendRoomJson(const QJsonObject& msg, const QString& target) override {
    if (entered++ == 0)
      gate.acquire();
    return RecordingLink::sendRoomJson(msg, target);
  }
};

TEST(VWStrokeCaptureTest, TheSenderStopsWithMessagesStillQueued) {
  BlockingLink link;
  auto sender = std::make_unique<vw::VWPaintInfoSendThead>(&link);
  for (int i = 0; i < 100; ++i)
    sender->enqueue(QJsonObject{{KEY_TYPE_ID, ANNO_POINT}, {KEY_CONTENT, i}});
  ASSERT_TRUE(eventually([&] { return link.entered == 1; }));
  EXPECT_EQ(sender->pending(), 99);
  link.gate.release();  // the message being sent goes; the destructor drops the rest
  sender.reset();
  const auto sent = link.sent();
  ASSERT_GE(sent.size(), 1);
  for (int i = 0; i < sent.size(); ++i)
    EXPECT_EQ(sent[i].msg.value(KEY_CONTENT).toInt(), i);
}

}  // namespace

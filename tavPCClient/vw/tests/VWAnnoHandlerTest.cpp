// What a received board message asks of this member, and the canvas carrying
// it out: replay of strokes, pen messages, the tool codes, shapes of a board,
// messages from the phone, and input nobody should have sent.
#include <gtest/gtest.h>

#include <QJsonArray>

#include "RecordingLink.h"
#include "RoomMessageTypes.h"
#include "VWAnnoHandler.h"
#include "VWPaintWidget.h"
#include "VWShapeDigest.h"

namespace {

using vw::VWAnnoAction;
using vw::handleAnnoMessage;

const vw::VWAnnoState kInSession{7, true};

QJsonObject from(quint32 sender, int typeId, QJsonValue content = QJsonValue()) {
  QJsonObject msg{{KEY_TYPE_ID, typeId}, {KEY_SEND_USER_ID, double(sender)}};
  if (!content.isUndefined() && !content.isNull())
    msg.insert(KEY_CONTENT, content);
  return msg;
}

std::vector<VWAnnoAction::Kind> kinds(const std::vector<VWAnnoAction>& actions) {
  std::vector<VWAnnoAction::Kind> out;
  for (const auto& a : actions)
    out.push_back(a.kind);
  return out;
}

struct Board {
  RecordingLink link;
  vw::VWPaintWidget canvas{nullptr, &link};
  Board() {
    link.annotating = false;
    canvas.resize(800, 600);
  }
  void receive(const QJsonObject& msg) {
    for (const auto& action : handleAnnoMessage(kInSession, msg))
      canvas.apply(action);
  }
};

TEST(VWAnnoHandlerTest, NothingHappensOutsideAClassAndOthersMessagesGoToThePhone) {
  const QJsonObject press = from(9, ANNO_POINT, 1);
  EXPECT_TRUE(handleAnnoMessage({7, false}, press).empty());

  QJsonObject withPoint = press;
  withPoint.insert("x", 0.5);
  withPoint.insert("y", 0.25);
  const auto actions = handleAnnoMessage(kInSession, withPoint);
  ASSERT_EQ(kinds(actions),
            (std::vector{VWAnnoAction::MirrorToPhone, VWAnnoAction::BeginShape}));
  EXPECT_EQ(actions[0].object, withPoint);
  EXPECT_EQ(actions[1].point, QPointF(0.5, 0.25));

  // The own messages are not mirrored back.
  EXPECT_EQ(kinds(handleAnnoMessage(kInSession, from(7, ANNO_TOOL, 3))),
            std::vector{VWAnnoAction::SetShape});
}

TEST(VWAnnoHandlerTest, AMessageFromThePhoneGoesToEverybodyWithTheOwnIdFirst) {
  for (const QJsonValue& sender : {QJsonValue(QJsonValue::Undefined), QJsonValue()}) {
    QJsonObject msg{{KEY_TYPE_ID, ANNO_TOOL}, {KEY_CONTENT, 10}};
    if (!sender.isUndefined())
      msg.insert(KEY_SEND_USER_ID, sender);
    const auto actions = handleAnnoMessage(kInSession, msg);
    ASSERT_EQ(kinds(actions),
              (std::vector{VWAnnoAction::Rebroadcast, VWAnnoAction::ClearAllShape}));
    EXPECT_EQ(actions[0].object.value(KEY_SEND_USER_ID).toInt(), 7);
    EXPECT_EQ(actions[0].object.value(KEY_CONTENT).toInt(), 10);
  }
}

TEST(VWAnnoHandlerTest, ToolCodesUndoClearAndTheCodesThatDoNothing) {
  auto one = [](int code) { return kinds(handleAnnoMessage(kInSession, from(7, ANNO_TOOL, code))); };
  EXPECT_EQ(one(0), std::vector{VWAnnoAction::SetShape});
  EXPECT_EQ(one(7), std::vector{VWAnnoAction::SetShape});
  EXPECT_EQ(one(8), std::vector{VWAnnoAction::UndoShape});
  EXPECT_EQ(one(10), std::vector{VWAnnoAction::ClearAllShape});
  EXPECT_TRUE(one(9).empty());
  EXPECT_TRUE(one(11).empty());
  // A string content, a wrong type or an unknown message asks nothing.
  EXPECT_TRUE(handleAnnoMessage(kInSession, from(7, ANNO_TOOL, "10")).empty());
  EXPECT_TRUE(handleAnnoMessage(kInSession, from(7, 110, 1)).empty());
  EXPECT_TRUE(handleAnnoMessage(kInSession, from(7, ANNO_COLOR, QJsonArray{1, 2, 3, 4})).empty());
  EXPECT_TRUE(handleAnnoMessage(kInSession, QJsonObject{{KEY_TYPE_ID, ANNO_STOP},
                                                         {KEY_SEND_USER_ID, "someone"}})
                  .empty());
}

TEST(VWAnnoHandlerTest, AReplayedStrokeUsesTheReceiversPenAndBadPointsAreDroppedOrClamped) {
  Board b;
  b.receive(QJsonObject{{KEY_TYPE_ID, ANNO_PEN}, {KEY_SEND_USER_ID, 9}, {"penShapeType", 1},
                        {"penWidth", 5},
                        {"penColor", QJsonObject{{"r", 0}, {"g", 0}, {"b", 255}, {"a", 255}}}});
  EXPECT_EQ(b.canvas.pen(), (VWShapeProperty{1, 0, 0, 255, 255, 5}));

  auto point = [](int phase, QJsonValue x, QJsonValue y) {
    QJsonObject msg = from(9, ANNO_POINT, phase);
    msg.insert("x", x);
    msg.insert("y", y);
    return msg;
  };
  b.receive(point(1, 0.1, 0.1));
  b.receive(point(2, "0.2", "0.3"));                 // strings hold numbers too
  b.receive(point(2, QJsonValue(), 0.5));            // no x: ignored
  b.receive(point(2, 1e300, -1e300));                // clamped, not overflowed
  b.receive(from(9, ANNO_POINT, 3));
  ASSERT_EQ(b.canvas.shapeList().size(), 1);
  EXPECT_EQ(vw::VWShapeDigest::canonicalText(b.canvas.shapeList()),
            "1 0,0,255,255 5 0.1,0.1 0.2,0.3 16,-16\n");
}

TEST(VWAnnoHandlerTest, ShapesOfABoardWithNumbersOrStringsDrawTheSame) {
  const QJsonObject numbers{{"shapeType", 3},
                            {"shapeColor", QJsonObject{{"r", 0}, {"g", 255}, {"b", 0}, {"a", 255}}},
                            {"lineWidth", 2},
                            {"points", QJsonArray{QJsonObject{{"x", 0.1}, {"y", 0.2}},
                                                  QJsonObject{{"x", 0.6}, {"y", 0.7}}}}};
  QJsonObject strings = numbers;
  strings.insert("points", QJsonArray{QJsonObject{{"x", "0.1"}, {"y", "0.2"}},
                                      QJsonObject{{"x", "0.6"}, {"y", "0.7"}}});
  Board a, b;
  a.receive(from(9, ANNO_SHAPE, numbers));
  b.receive(from(9, ANNO_SHAPE, strings));
  ASSERT_EQ(a.canvas.shapeList().size(), 1);
  EXPECT_EQ(vw::VWShapeDigest::digest(a.canvas.shapeList()),
            vw::VWShapeDigest::digest(b.canvas.shapeList()));
  EXPECT_EQ(a.canvas.grab().toImage(), b.canvas.grab().toImage());

  // "-1" shows nothing, "" shows the (empty) canvas, a wrongly nested shape adds nothing.
  EXPECT_EQ(kinds(handleAnnoMessage(kInSession, from(7, ANNO_SHAPE, "-1"))),
            std::vector{VWAnnoAction::NothingToShow});
  EXPECT_EQ(kinds(handleAnnoMessage(kInSession, from(7, ANNO_SHAPE, ""))),
            std::vector{VWAnnoAction::ShowCanvas});
  a.receive(from(9, ANNO_SHAPE, QJsonObject{{"shapeType", QJsonObject{{"x", 1}}},
                                            {"points", QJsonObject{{"x", 1}}}}));
  EXPECT_EQ(a.canvas.shapeList().size(), 1);
}

TEST(VWAnnoHandlerTest, ShapeObjectsTravelBackToTheSameBoard) {
  Board owner, newcomer;
  owner.canvas.setShape(1, 3, 10, 20, 30, 255);
  owner.canvas.beginShape({0.1, 0.1});
  for (int i = 1; i < 50; ++i)
    owner.canvas.continueShape({0.1 + i / 137.0, 0.1 + i / 91.0});
  owner.canvas.finishShape();
  owner.canvas.setShape(5, 2, 255, 0, 0, 255);
  owner.canvas.beginShape({0.123456789, 0.9});
  owner.canvas.continueShape({0.7654321, 0.1});
  owner.canvas.finishShape();
  for (const QJsonValue& shape : owner.canvas.shapeObjects())
    newcomer.receive(from(9, ANNO_SHAPE, shape));
  EXPECT_EQ(vw::VWShapeDigest::digest(owner.canvas.shapeList()),
            vw::VWShapeDigest::digest(newcomer.canvas.shapeList()));
}

TEST(VWAnnoHandlerTest, RightsSyncAndRepliesNameTheSender) {
  const auto sync = handleAnnoMessage(kInSession, from(9, ANNO_SYNC_REQUEST));
  ASSERT_EQ(kinds(sync), (std::vector{VWAnnoAction::MirrorToPhone, VWAnnoAction::AnswerSync}));
  EXPECT_EQ(sync[1].userId, 9u);
  const auto apply = handleAnnoMessage(kInSession, from(9, ANNO_APPLY, 1));
  EXPECT_EQ(apply.back().kind, VWAnnoAction::Apply);
  EXPECT_EQ(apply.back().value, 1);
  // A reply whose content is no number counts as a refusal.
  const auto reply = handleAnnoMessage(kInSession, from(3, ANNO_APPLY_REPLY, "1"));
  EXPECT_EQ(reply.back().kind, VWAnnoAction::ApplyReply);
  EXPECT_EQ(reply.back().value, 0);
  EXPECT_EQ(handleAnnoMessage(kInSession, from(3, ANNO_START)).back().userId, 3u);
}

}  // namespace

// What a received board message asks of this member, decided without touching
// anything: handleAnnoMessage(state, message) -> actions. The whiteboard
// carries the actions out on its canvas and its rights; tests and the fuzz
// target look at them directly.
//
// Board messages come from every other member and from the phone, so nothing
// in them is trusted: a field that is missing or of the wrong type makes the
// message (or that field) ignored, numbers are taken only when finite, and
// coordinates are clamped as the canvas clamps them.
#pragma once

#include <QJsonObject>
#include <QPointF>
#include <vector>

namespace vw {

struct VWAnnoState {
  quint32 ownUserId = 0;
  bool inSession = false;  // messages are ignored while no class runs
};

struct VWAnnoAction {
  enum Kind {
    MirrorToPhone,   // object: the message as received
    Rebroadcast,     // object: the phone's message with the own id, to everybody
    BeginShape,      // point
    ContinueShape,   // point
    FinishShape,
    SetShape,        // value: tool code
    UndoShape,
    ClearAllShape,
    SetShapeColor,   // r, g, b, a
    SetShapeWidth,   // value
    SetPen,          // value: tool code, width, r, g, b, a
    ShowCanvas,
    NothingToShow,   // the board asked for is empty and nobody writes ("-1")
    RenderShape,     // object: the shape object (the canvas is shown and raised first)
    AnswerSync,      // userId: who asked for the board
    AnnoStart,       // userId: who obtained the right
    AnnoStop,        // userId: who ended annotation
    Apply,           // userId, value: 1 applies, anything else withdraws
    ApplyReply,      // userId, value: 1 approved, anything else refused
  };
  Kind kind;
  QPointF point;
  int value = 0;
  int width = 0;
  int r = 0, g = 0, b = 0, a = 0;
  quint32 userId = 0;
  QJsonObject object;
};

std::vector<VWAnnoAction> handleAnnoMessage(const VWAnnoState& state, const QJsonObject& msg);

}  // namespace vw

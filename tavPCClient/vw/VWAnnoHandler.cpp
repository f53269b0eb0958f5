#include "VWAnnoHandler.h"

#include <cmath>
#include <optional>

#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "VWJsonRead.h"

namespace vw {

namespace {

using Action = VWAnnoAction;

struct Colour {
  int r, g, b, a;
};

std::optional<Colour> colourOf(const QJsonValue& v) {
  if (!v.isObject())
    return std::nullopt;
  const QJsonObject c = v.toObject();
  const auto r = intOf(c.value("r")), g = intOf(c.value("g")), b = intOf(c.value("b")),
             a = intOf(c.value("a"));
  if (!r || !g || !b || !a)
    return std::nullopt;
  return Colour{*r, *g, *b, *a};
}

Action make(Action::Kind kind) {
  Action action{};
  action.kind = kind;
  return action;
}

void dispatch(const QJsonObject& msg, quint32 sender, std::vector<Action>& out) {
  const auto typeId = intOf(msg.value(KEY_TYPE_ID));
  if (!typeId)
    return;
  const QJsonValue content = msg.value(KEY_CONTENT);
  switch (*typeId) {
    case ANNO_POINT: {
      const auto phase = intOf(content);
      if (!phase)
        return;
      if (*phase == 3) {
        out.push_back(make(Action::FinishShape));
      } else if (*phase == 1 || *phase == 2) {
        const auto p = pointOf(msg);
        if (!p)
          return;
        Action action = make(*phase == 1 ? Action::BeginShape : Action::ContinueShape);
        action.point = *p;
        out.push_back(action);
      }
      return;
    }
    case ANNO_TOOL: {
      const auto code = intOf(content);
      if (!code)
        return;
      if (*code <= 7) {
        Action action = make(Action::SetShape);
        action.value = *code;
        out.push_back(action);
      } else if (*code == 8) {
        out.push_back(make(Action::UndoShape));
      } else if (*code == 10) {
        out.push_back(make(Action::ClearAllShape));
      }
      return;
    }
    case ANNO_COLOR: {
      const auto c = colourOf(content);
      if (!c)
        return;
      Action action = make(Action::SetShapeColor);
      action.r = c->r;
      action.g = c->g;
      action.b = c->b;
      action.a = c->a;
      out.push_back(action);
      return;
    }
    case ANNO_WIDTH: {
      const auto width = intOf(content);
      if (!width)
        return;
      Action action = make(Action::SetShapeWidth);
      action.value = *width;
      out.push_back(action);
      return;
    }
    case ANNO_PEN: {
      const auto type = intOf(msg.value("penShapeType"));
      const auto width = intOf(msg.value("penWidth"));
      const auto c = colourOf(msg.value("penColor"));
      if (!type || !width || !c)
        return;
      Action action = make(Action::SetPen);
      action.value = *type;
      action.width = *width;
      action.r = c->r;
      action.g = c->g;
      action.b = c->b;
      action.a = c->a;
      out.push_back(action);
      return;
    }
    case ANNO_SHAPE:
      if (content.isString()) {
        out.push_back(make(content.toString() == QLatin1String("-1") ? Action::NothingToShow
                                                                      : Action::ShowCanvas));
      } else if (content.isObject()) {
        Action action = make(Action::RenderShape);
        action.object = content.toObject();
        out.push_back(action);
      }
      return;
    case ANNO_SYNC_REQUEST:
    case ANNO_START:
    case ANNO_STOP: {
      Action action = make(*typeId == ANNO_SYNC_REQUEST ? Action::AnswerSync
                           : *typeId == ANNO_START      ? Action::AnnoStart
                                                        : Action::AnnoStop);
      action.userId = sender;
      out.push_back(action);
      return;
    }
    case ANNO_APPLY:
    case ANNO_APPLY_REPLY: {
      Action action = make(*typeId == ANNO_APPLY ? Action::Apply : Action::ApplyReply);
      action.userId = sender;
      // Anything but a plain 1 counts as "no".
      action.value = intOf(content).value_or(0);
      out.push_back(action);
      return;
    }
    default:
      return;
  }
}

}  // namespace

std::vector<VWAnnoAction> handleAnnoMessage(const VWAnnoState& state, const QJsonObject& msg) {
  std::vector<Action> out;
  if (!state.inSession)
    return out;
  const QJsonValue senderValue = msg.value(KEY_SEND_USER_ID);
  quint32 sender = state.ownUserId;
  if (senderValue.isUndefined() || senderValue.isNull()) {
    // From the phone: it goes to everybody as the own member's, then applies here.
    QJsonObject stamped = msg;
    stamped.insert(KEY_SEND_USER_ID, double(state.ownUserId));
    Action action = make(Action::Rebroadcast);
    action.object = stamped;
    out.push_back(action);
  } else {
    const auto id = roommsg::userIdOf(senderValue);
    if (!id)
      return out;  // a sender nobody can be
    sender = *id;
    if (sender != state.ownUserId) {
      Action action = make(Action::MirrorToPhone);
      action.object = msg;
      out.push_back(action);
    }
  }
  dispatch(msg, sender, out);
  return out;
}

}  // namespace vw

// The class and the two floors: share (38-49, 56, 57) and tag (50-55).
#include "room_logic.h"
#include "wirebytes/byte_reader.h"

namespace mcu {

using namespace pavo_wire;

namespace {
constexpr uint32_t done = 0;
constexpr uint32_t refused = 1;
}  // namespace

bytes room_logic::id_list(std::optional<uint32_t> id) const {
  return id ? words({0, 1, *id}) : words({0, 0});
}

bool room_logic::floor_message(member& m, uint32_t type, const uint8_t* p, unsigned length,
                               outbox& out) {
  const session_id s = m.session;
  const uint32_t self = m.user_id;
  wirebytes::byte_reader in(p, length);
  const bool teacher = m.teacher_side;
  switch (type) {
    case msg_start_class:
      if (!permitted(m, teacher, type, "start the class"))
        return false;
      if (!class_running_) {
        class_running_ = true;
        class_starter_ = self;
        out.send(s, msg_start_class_ack, words({done}));
        to_all(out, msg_start_class, words({self}));
      } else {
        out.send(s, msg_start_class_ack, words({class_starter_ == self ? done : refused}));
      }
      return true;
    case msg_stop_class: {
      // The id the client names is not believed: the stop is always the sender's.
      in.skip(4);
      if (!in.ok() || !permitted(m, teacher, type, "stop the class"))
        return false;
      if (!class_running_) {
        out.send(s, msg_stop_class_ack, words({refused}));
        return true;
      }
      class_running_ = false;
      class_starter_ = 0;
      out.send(s, msg_stop_class_ack, words({done}));
      to_all(out, msg_stop_class, words({self}));
      stop_all_media(out);
      reset_floors(out);
      return true;
    }
    case msg_class_state:
      out.send(s, msg_class_state_ack, words({class_running_ ? 1u : 0u}));
      return true;
    case msg_classing_user:
      out.send(s, msg_classing_user_ack,
               class_running_ ? words({0, 1, class_starter_}) : words({1, 0}));
      return true;

    case msg_application_share:
      applicants_.insert(self);
      out.send(s, msg_application_share_ack, words({done}));
      to_all(out, msg_application_share, words({self}));
      return true;
    case msg_cancel_application:
      applicants_.erase(self);
      out.send(s, msg_cancel_application_ack, words({done}));
      to_all(out, msg_cancel_application, words({self}));
      return true;
    case msg_reply_share: {
      const uint32_t reply = in.u32(), user = in.u32();
      if (!in.ok() || !permitted(m, teacher, type, "answer a request for the teaching tool"))
        return false;
      applicants_.erase(user);
      if (reply == 1)
        tool_holder_ = user;
      out.send(s, msg_reply_share_ack, words({reply, user}));
      to_all(out, msg_reply_share, words({reply, user}));
      return true;
    }
    case msg_start_share:
      // The teacher side shares, and so does the member it gave the teaching tool.
      if (!permitted(m, teacher || tool_holder_ == self, type, "share without the teaching tool"))
        return false;
      if (sharer_ && *sharer_ != self)
        to_all(out, msg_stop_share, words({*sharer_}));
      sharer_ = self;
      out.send(s, msg_start_share_ack, words({done}));
      to_all(out, msg_start_share, words({self}));
      return true;
    case msg_stop_share: {
      const uint32_t user = in.u32();
      if (!in.ok() || !permitted(m, teacher || user == self, type, "end another's share"))
        return false;
      if (sharer_ != user) {
        out.send(s, msg_stop_share_ack, words({refused}));
        return true;
      }
      sharer_.reset();
      out.send(s, msg_stop_share_ack, words({done}));
      to_all(out, msg_stop_share, words({user}));
      return true;
    }
    case msg_share_users:
      out.send(s, msg_share_users_ack, id_list(sharer_));
      return true;
    case msg_cancel_share: {
      // The teaching tool taken back from a member: its approval, request and share end.
      const uint32_t user = in.u32();
      if (!in.ok() || !permitted(m, teacher || user == self, type, "take back the teaching tool"))
        return false;
      if (tool_holder_ == user)
        tool_holder_.reset();
      applicants_.erase(user);
      if (sharer_ == user) {
        sharer_.reset();
        to_all(out, msg_stop_share, words({user}));
      }
      out.send(s, msg_cancel_share_ack, words({done}));
      to_all(out, msg_cancel_share, words({user}));
      return true;
    }

    case msg_start_tag:
      // A member the teacher lets write takes the board once the teacher's client has freed
      // it; only the teacher side takes it from someone.
      if (!permitted(m, teacher || !tag_holder_ || *tag_holder_ == self, type,
                     "take the board from another"))
        return false;
      if (tag_holder_ && *tag_holder_ != self)
        to_all(out, msg_stop_tag, words({*tag_holder_}));
      tag_holder_ = self;
      out.send(s, msg_start_tag_ack, words({done}));
      to_all(out, msg_start_tag, words({self}));
      return true;
    case msg_stop_tag: {
      const uint32_t user = in.u32();
      if (!in.ok() || !permitted(m, teacher || user == self, type, "end another's writing"))
        return false;
      if (tag_holder_ != user) {
        out.send(s, msg_stop_tag_ack, words({refused}));
        return true;
      }
      tag_holder_.reset();
      out.send(s, msg_stop_tag_ack, words({done}));
      to_all(out, msg_stop_tag, words({user}));
      return true;
    }
    case msg_tag_users:
      out.send(s, msg_tag_users_ack, id_list(tag_holder_));
      return true;
    default:
      return false;
  }
}

// A member leaving gives up what it held; the others hear it as if it had given it back.
void room_logic::release_floors(const member& m, outbox& out) {
  const uint32_t user = m.user_id;
  if (tag_holder_ == user) {
    tag_holder_.reset();
    to_others(out, m, msg_stop_tag, words({user}));
  }
  if (sharer_ == user) {
    sharer_.reset();
    to_others(out, m, msg_stop_share, words({user}));
  }
  if (applicants_.erase(user))
    to_others(out, m, msg_cancel_application, words({user}));
  if (tool_holder_ == user)
    tool_holder_.reset();
}

// The class stopped or the room emptied: nobody shares or writes any more.
void room_logic::reset_floors(outbox& out) {
  if (tag_holder_)
    to_all(out, msg_stop_tag, words({*tag_holder_}));
  if (sharer_)
    to_all(out, msg_stop_share, words({*sharer_}));
  tag_holder_.reset();
  sharer_.reset();
  tool_holder_.reset();
  applicants_.clear();
  if (members_.empty()) {
    class_running_ = false;
    class_starter_ = 0;
  }
}

}  // namespace mcu

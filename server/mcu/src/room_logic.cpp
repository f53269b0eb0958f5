// Membership: login, leave, user lists, keep-alive and probes, and the per-type dispatch.
#include "room_logic.h"

#include <algorithm>
#include <string>

#include "tavsrv/Log.h"
#include "wirebytes/byte_reader.h"
#include "wirebytes/byte_writer.h"

namespace mcu {

using namespace pavo_wire;

room_logic::~room_logic() {
  outbox ignored;
  for (auto& entry : members_)
    release_media(entry.second, ignored);
}

bool room_logic::on_message(session_id from, uint32_t type, const uint8_t* p, unsigned length,
                            outbox& out) {
  if (!p)
    length = 0;
  if (type == msg_keep_alive) {
    out.send(from, msg_ping);
    return true;
  }
  if (type == msg_pong)
    return true;
  if (type == msg_login)
    return false;  // only through login(), after the credential was checked
  auto it = members_.find(from);
  if (it == members_.end())
    return false;  // nothing before the login
  if (it->second.recorder &&
      !permitted(it->second, recorder_may_send(type), type, "act in the room as a recorder"))
    return false;
  return member_message(it->second, type, p, length, out);
}

bool room_logic::recorder_may_send(uint32_t type) {
  switch (type) {
    case msg_leave:
    case msg_reserved:
    case msg_user_list:
    case msg_probe:
    case msg_subscribe:
    case msg_unsubscribe:
    case msg_loss_report:
    case msg_p2p:
    case msg_p2p_fragment:
    case msg_p2p_ack:
    case msg_p2all_ack:
    case msg_p2p_fragment_ack:
    case msg_p2all_fragment_ack:
    case msg_application_share_ack:
    case msg_cancel_application_ack:
    case msg_reply_share_ack:
    case msg_class_state:
    case msg_classing_user:
    case msg_share_users:
    case msg_tag_users:
      return true;
    default:
      return false;
  }
}

bool room_logic::member_message(member& m, uint32_t type, const uint8_t* p, unsigned length,
                                outbox& out) {
  // Fields are read through `in`, which refuses anything past the end: a short message is
  // dropped (in.ok() false) before anything is done with it.
  wirebytes::byte_reader in(p, length);
  switch (type) {
    case msg_leave: {
      const session_id session = m.session;  // `m` goes with the member
      remove_member(session, out);
      out.closes.push_back(session);
      return true;
    }
    case msg_reserved: {
      const uint32_t value = in.u32();
      if (!in.ok())
        return false;
      out.send(m.session, msg_reserved, words({value, static_cast<uint32_t>(order_.size())}));
      return true;
    }
    case msg_user_list:
      out.send(m.session, msg_user_list, user_pairs());
      return true;
    case msg_probe: {
      in.skip(4);  // the probe's sequence number
      const uint32_t mask = in.u32();
      if (!in.ok())
        return false;
      m.mask = mask;
      return true;
    }
    case msg_open_media:
    case msg_close_media:
    case msg_subscribe:
    case msg_unsubscribe: {
      const uint32_t user = in.u32(), kind = in.u32();
      if (!in.ok())
        return false;
      // Another member's camera or microphone is the teacher side's to open and close.
      if ((type == msg_open_media || type == msg_close_media) &&
          !permitted(m, user == m.user_id || m.teacher_side, type, "open or close others' media"))
        return false;
      if (type == msg_open_media)
        return publish(user, kind, out);
      if (type == msg_close_media)
        return close_stream(m, user, kind, out);
      if (type == msg_subscribe)
        return add_listener(m, user, kind, out);
      return remove_listener(m, user, kind);
    }
    case msg_sender_started: {
      const uint32_t user = in.u32(), kind = in.u32(), min_kbps = in.u32();
      if (!in.ok() || user != m.user_id)
        return false;
      relay_.sender_started(room_id_, m.user_id, kind, min_kbps);
      return true;
    }
    case msg_loss_report:
      if (length < loss_report_header)
        return false;
      relay_.loss_report(room_id_, m.user_id, p, length);
      return true;
    case msg_p2p:
    case msg_p2all:
    case msg_p2p_fragment:
    case msg_p2all_fragment:
    case msg_p2p_ack:
    case msg_p2all_ack:
    case msg_p2p_fragment_ack:
    case msg_p2all_fragment_ack:
      return route_peer(m, type, p, length, out);
    case msg_application_share_ack:
    case msg_cancel_application_ack:
    case msg_reply_share_ack:
      return true;  // the members' receipts of 38, 40, 42: the MCU answered the asker itself
    default:
      return floor_message(m, type, p, length, out);
  }
}

bool room_logic::login(session_id from, const login_request& request, outbox& out) {
  const uint32_t mask = request.mask, user_id = request.user_id;
  if (members_.count(from))
    return false;
  if (member* old = find_user(user_id)) {
    // The same user again (a new connection): the old session goes.
    tavsrv::logInfo("mcu: room " + std::to_string(room_id_) + ": user " + std::to_string(user_id) +
                    " logged in again, dropping the old session");
    const session_id old_session = old->session;
    out.send(old_session, msg_kick);
    remove_member(old_session, out);
    out.closes.push_back(old_session);
  }
  const auto recorders = static_cast<std::size_t>(std::count_if(
      members_.begin(), members_.end(), [](const auto& entry) { return entry.second.recorder; }));
  if (request.recorder ? recorders >= max_recorders : members_.size() - recorders >= max_members_) {
    tavsrv::logWarn("mcu: room " + std::to_string(room_id_) + " full, refusing user " +
                    std::to_string(user_id));
    out.send(from, msg_kick);
    out.closes.push_back(from);
    return false;
  }
  member& m = members_[from];
  m.session = from;
  m.user_id = user_id;
  m.mask = mask;
  m.address = request.address;
  m.token = request.token;
  m.teacher_side = teacher_side(request.role);
  m.recorder = request.recorder;
  (m.recorder ? recorders_ : order_).push_back(from);

  out.send(from, msg_login, user_pairs());
  if (!m.recorder)
    to_others(out, m, msg_user_login, words({mask, user_id}));
  bytes published;
  for (session_id s : order_) {
    const member& other = members_.at(s);
    uint32_t kinds = 0;
    for (const auto& stream : other.published)
      kinds |= stream.first;
    if (kinds) {
      wirebytes::byte_writer(published).u32(other.user_id).u32(kinds);
    }
  }
  out.send(from, msg_existing_media, std::move(published));
  // A member entering later learns who holds the teaching tool, and the teacher side who
  // is waiting for it, as if it had been there.
  if (tool_holder_)
    out.send(from, msg_reply_share, words({1, *tool_holder_}));
  if (m.teacher_side && !m.recorder)
    for (uint32_t applicant : applicants_)
      out.send(from, msg_application_share, words({applicant}));
  tavsrv::logInfo("mcu: room " + std::to_string(room_id_) + ": " +
                  (m.recorder ? "recorder " : "user ") + std::to_string(user_id) + " logged in, " +
                  std::to_string(order_.size()) + " present");
  return true;
}

bool room_logic::permitted(member& m, bool allowed, uint32_t type, const char* what) {
  if (allowed)
    return true;
  ++refused_;
  if (!m.refusal_logged) {
    m.refusal_logged = true;
    tavsrv::logWarn("mcu: room " + std::to_string(room_id_) + ": user " +
                    std::to_string(m.user_id) + " may not " + what + " (message " +
                    std::to_string(type) +
                    "), dropped; further refusals of this session are not logged");
  }
  return false;
}

void room_logic::on_closed(session_id session, outbox& out) {
  if (members_.count(session))
    remove_member(session, out);
}

void room_logic::remove_member(session_id session, outbox& out) {
  auto it = members_.find(session);
  if (it == members_.end())
    return;
  member& m = it->second;
  const uint32_t user_id = m.user_id;
  const bool recorder = m.recorder;
  release_floors(m, out);
  release_media(m, out);
  members_.erase(it);
  order_.erase(std::remove(order_.begin(), order_.end(), session), order_.end());
  recorders_.erase(std::remove(recorders_.begin(), recorders_.end(), session), recorders_.end());
  if (!recorder)
    for (const auto& entry : members_)
      out.send(entry.first, msg_leave, words({user_id}));
  if (order_.empty())
    reset_floors(out);
  tavsrv::logInfo("mcu: room " + std::to_string(room_id_) + ": " +
                  (recorder ? "recorder " : "user ") + std::to_string(user_id) + " left, " +
                  std::to_string(order_.size()) + " present");
}

void room_logic::probe_all(outbox& out) {
  ++probe_sequence_;
  for (const auto& entry : members_)
    out.send(entry.first, msg_probe, words({probe_sequence_}));
}

bool room_logic::disconnect(uint32_t user_id, outbox& out) {
  bool found = false;
  // A member cut off takes its recorder along.
  for (const uint32_t id : {user_id, user_id | recorder_id_bit}) {
    member* m = find_user(id);
    if (!m)
      continue;
    const session_id session = m->session;
    out.send(session, msg_kick);
    remove_member(session, out);
    out.closes.push_back(session);
    found = true;
  }
  return found;
}

std::vector<uint32_t> room_logic::user_ids() const {
  std::vector<uint32_t> ids;
  for (const auto& entry : members_)
    ids.push_back(entry.second.user_id);
  return ids;
}

room_logic::member* room_logic::find_user(uint32_t user_id) {
  for (auto& entry : members_)
    if (entry.second.user_id == user_id)
      return &entry.second;
  return nullptr;
}

bool room_logic::session_of(uint32_t user_id, session_id* out) const {
  for (const auto& entry : members_) {
    if (entry.second.user_id == user_id) {
      *out = entry.first;
      return true;
    }
  }
  return false;
}

bytes room_logic::user_pairs() const {
  bytes out;
  for (session_id s : order_) {
    const member& m = members_.at(s);
    wirebytes::byte_writer(out).u32(m.mask).u32(m.user_id);
  }
  return out;
}

void room_logic::to_all(outbox& out, uint32_t type, const bytes& payload) const {
  for (const auto* sessions : {&order_, &recorders_})
    for (session_id s : *sessions)
      out.send(s, type, payload);
}

void room_logic::to_others(outbox& out, const member& except, uint32_t type,
                           const bytes& payload) const {
  for (const auto* sessions : {&order_, &recorders_})
    for (session_id s : *sessions)
      if (s != except.session)
        out.send(s, type, payload);
}

RoomInfo room_logic::info() const {
  RoomInfo info;
  info.room_id = room_id_;
  info.class_running = class_running_;
  info.class_starter = class_starter_;
  info.sharer = sharer_ ? int64_t{*sharer_} : -1;
  info.tag_holder = tag_holder_ ? int64_t{*tag_holder_} : -1;
  for (session_id s : order_) {
    const member& m = members_.at(s);
    MemberInfo entry{m.user_id, m.mask, 0, 0};
    for (const auto& stream : m.published)
      entry.published |= stream.first;
    entry.subscriptions = static_cast<uint32_t>(m.subscribed.size()) + (m.audio_port ? 1 : 0);
    info.members.push_back(entry);
  }
  return info;
}

}  // namespace mcu

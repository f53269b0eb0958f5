// Control messages between the MCU and libpavo: types, big-endian fields, and the outbox a
// room's logic fills for its endpoint to send.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace mcu {

using session_id = uint64_t;
using bytes = std::vector<uint8_t>;

enum msg : uint32_t {
  login = 0,
  leave = 1,
  reserved = 3,
  open_media = 4,
  close_media = 5,
  user_list = 6,
  probe = 8,
  open_sender = 9,
  close_sender = 10,
  media_published = 11,
  media_unpublished = 12,
  user_login = 13,
  loss_report = 15,
  sender_started = 18,
  subscribe = 19,
  unsubscribe = 20,
  media_port = 21,
  existing_media = 29,
  join_room = 30,
  room_port = 31,
  start_class = 32,
  start_class_ack = 33,
  stop_class = 34,
  stop_class_ack = 35,
  class_state = 36,
  class_state_ack = 37,
  application_share = 38,
  application_share_ack = 39,
  cancel_application = 40,
  cancel_application_ack = 41,
  reply_share = 42,
  reply_share_ack = 43,
  start_share = 44,
  start_share_ack = 45,
  stop_share = 46,
  stop_share_ack = 47,
  share_users = 48,
  share_users_ack = 49,
  start_tag = 50,
  start_tag_ack = 51,
  stop_tag = 52,
  stop_tag_ack = 53,
  tag_users = 54,
  tag_users_ack = 55,
  cancel_share = 56,
  cancel_share_ack = 57,
  p2p = 64,
  p2all = 65,
  classing_user = 66,
  classing_user_ack = 67,
  p2p_ack = 68,
  p2all_ack = 69,
  kick = 70,
  p2p_fragment = 71,
  p2all_fragment = 72,
  p2p_fragment_ack = 73,
  p2all_fragment_ack = 74,
  keep_alive = 100000,
  ping = 100002,
  pong = 100003
};

// Peer message fragments: {u32 user id, u32 offset, u32 total, at most 1388 data bytes}.
constexpr unsigned fragment_header = 12;
constexpr unsigned fragment_max = 1400;

inline uint32_t get_u32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void append_u32(bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

inline void append_u16(bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

inline bytes words(std::initializer_list<uint32_t> values) {
  bytes out;
  out.reserve(values.size() * 4);
  for (uint32_t v : values)
    append_u32(out, v);
  return out;
}

struct outgoing {
  session_id to;
  uint32_t type;
  bytes payload;
};

// What one step of a room's logic wants done, in order: messages to send, then sessions to
// end (after what was queued for them has gone out).
struct outbox {
  std::vector<outgoing> sends;
  std::vector<session_id> closes;

  void send(session_id to, uint32_t type, bytes payload = {}) {
    sends.push_back({to, type, std::move(payload)});
  }
};

}  // namespace mcu

// Control messages between libpavo and the MCU: types, limits and big-endian fields.
#pragma once

#include <cstdint>
#include <cstring>

namespace pavo {

// Message types (sent, received or both).
enum mcu_msg : uint32_t {
  msg_login = 0,  // sent {mask, id}; received: the users present
  msg_leave = 1,
  msg_reserved = 3,
  msg_open_media = 4,
  msg_close_media = 5,
  msg_user_list = 6,
  msg_probe = 8,
  msg_open_sender = 9,
  msg_close_sender = 10,
  msg_media_published = 11,
  msg_media_unpublished = 12,
  msg_user_login = 13,
  msg_retransmit = 14,
  msg_loss_report = 15,
  msg_bandwidth = 16,
  msg_quality = 17,
  msg_sender_started = 18,
  msg_subscribe = 19,
  msg_unsubscribe = 20,
  msg_media_port = 21,
  msg_existing_media = 29,
  msg_join_room = 30,
  msg_room_port = 31,
  msg_start_class = 32,
  msg_start_class_ack = 33,
  msg_stop_class = 34,
  msg_stop_class_ack = 35,
  msg_class_state = 36,
  msg_class_state_ack = 37,
  msg_application_share = 38,
  msg_application_share_ack = 39,
  msg_cancel_application = 40,
  msg_cancel_application_ack = 41,
  msg_reply_share = 42,
  msg_reply_share_ack = 43,
  msg_start_share = 44,
  msg_start_share_ack = 45,
  msg_stop_share = 46,
  msg_stop_share_ack = 47,
  msg_share_users = 48,
  msg_share_users_ack = 49,
  msg_start_tag = 50,
  msg_start_tag_ack = 51,
  msg_stop_tag = 52,
  msg_stop_tag_ack = 53,
  msg_tag_users = 54,
  msg_tag_users_ack = 55,
  msg_cancel_share = 56,
  msg_cancel_share_ack = 57,
  msg_p2p = 64,
  msg_p2all = 65,
  msg_classing_user = 66,
  msg_classing_user_ack = 67,
  msg_p2p_ack = 68,
  msg_p2all_ack = 69,
  msg_kick = 70,
  msg_p2p_fragment = 71,
  msg_p2all_fragment = 72,
  msg_p2p_fragment_ack = 73,
  msg_p2all_fragment_ack = 74,
  msg_keep_alive = 100000,
  msg_ping = 100002,
  msg_pong = 100003
};

// Payloads above this are not sent.
constexpr unsigned max_send_payload = 4096;
// Largest received message (the 16-bit length field).
constexpr unsigned max_recv_payload = 65535;
// The room-join reply shares its buffer with the header.
constexpr unsigned max_join_reply_payload = 65527;

// Peer messages: up to this many bytes go as one message 64/65, longer ones as fragments.
constexpr unsigned peer_single_max = 2000;
constexpr unsigned fragment_header = 12;  // u32 user id, u32 offset, u32 total
constexpr unsigned fragment_data_max = 1388;
constexpr unsigned fragment_max = fragment_header + fragment_data_max;  // 1400
// Largest peer message as a whole; longer ones are refused by the sender and dropped by the
// receiver, which bounds what one reassembly entry may hold.
constexpr unsigned peer_message_max = 1u << 20;

inline uint32_t get_u32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint16_t get_u16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline void put_u32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline void put_u16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

}  // namespace pavo

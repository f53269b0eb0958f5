// The control channel between libpavo and the MCU: message types and the limits and layouts
// both ends rely on. Each message is one netra control message (netra/kcp_frame.h: the 8-byte
// header {reserved u16, length u16, type u32} in network order, then `length` payload bytes);
// all payload fields are big-endian.
#pragma once

#include <cstdint>

namespace pavo_wire {

// Message types. The comments name the payload; "->" marks what the MCU answers or sends.
enum msg_type : uint32_t {
  msg_login = 0,  // {mask, id, credential} -> {mask, id}* of the users present; refused: 70
  msg_leave = 1,  // none -> {id} to the others
  msg_reserved = 3,
  msg_open_media = 4,   // {user, kind}
  msg_close_media = 5,  // {user, kind}
  msg_user_list = 6,    // none -> {mask, id}*
  msg_probe = 8,        // -> {sequence}; answered {sequence, device mask}
  msg_open_sender = 9,  // -> {0, kind, u16 port}
  msg_close_sender = 10,
  msg_media_published = 11,
  msg_media_unpublished = 12,
  msg_user_login = 13,
  msg_retransmit = 14,      // -> {kind, n, u16[n]}: packets a publisher sends again
  msg_loss_report = 15,     // {publisher, kind, n, listener, u16[n]}
  msg_bandwidth = 16,       // -> {kind, loss/256 | queuing delay ms << 8}
  msg_quality = 17,         // -> {kind, loss in percent}
  msg_sender_started = 18,  // {user, kind, minimum kbit/s}
  msg_subscribe = 19,
  msg_unsubscribe = 20,
  msg_media_port = 21,  // -> {publisher, kind, u16 port, media token}
  msg_existing_media = 29,
  msg_join_room = 30,  // {room, credential}, on the main port -> 31
  msg_room_port = 31,  // {u16 port}; port 0: refused (no valid credential, or no room free)
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
  msg_pong = 100003,
  // The service asking whether an MCU answers (main port; not sent by clients):
  // answered 100011, then the session is closed.
  msg_health = 100010,
  msg_health_ack = 100011
};

// Payloads above this are not sent by a client; the MCU keeps its retransmission requests
// within it too.
// A login (0) whose id has this bit is a class recorder of the user in the other bits: a
// hidden listener the MCU lets in only with that user's credential of the room's teacher
// side. It is in nobody's member list and not counted; it listens, asks and answers
// one-to-one peer messages, and does nothing else in the room.
constexpr uint32_t recorder_id_bit = 0x80000000u;

constexpr unsigned max_send_payload = 4096;
// Largest received message (the 16-bit length field).
constexpr unsigned max_recv_payload = 65535;
// The room-join reply shares its buffer with the header.
constexpr unsigned max_join_reply_payload = 65527;

// The credential at the end of messages 0 and 30: the service's signed statement that this
// user may use this room (its room-entry answer's "room_credential"), which the MCU checks
// before it opens a room or lets a login in. Layout after the message's words: u16 length n,
// then n bytes of text, printable ASCII without space (0x21..0x7e), 1 <= n <= credential_max.
// The words before it are unchanged, so a peer that knows no credential reads the message as
// before. Anything after the credential is ignored (room for later fields).
constexpr unsigned credential_max = 160;

inline bool credential_text_ok(const char* text, unsigned length) {
  if (!text || length == 0 || length > credential_max)
    return false;
  for (unsigned i = 0; i < length; ++i)
    if (text[i] < 0x21 || text[i] > 0x7e)
      return false;
  return true;
}

// Media registrations. A listener tells the MCU where to send a stream with a datagram to the
// port the MCU gave it: {u32 user id, media token}, repeated until data comes and again while
// the stream is silent. The token is random per control session and comes with every port
// the MCU hands a listener (message 21, after the port). The MCU takes a listener's endpoint
// only from a registration with that session's token, so another program at the member's
// address (the same machine, or the school's NAT) cannot take or move its streams.
constexpr unsigned media_token_size = 16;
struct media_token {
  uint8_t bytes[media_token_size] = {};
};
constexpr unsigned media_port_payload = 10 + media_token_size;  // message 21
constexpr unsigned media_registration_size = 4 + media_token_size;

inline void write_media_registration(uint8_t (&out)[media_registration_size], uint32_t user,
                                     const media_token& token) {
  for (unsigned i = 0; i < 4; ++i)
    out[i] = static_cast<uint8_t>(user >> (24 - 8 * i));
  for (unsigned i = 0; i < media_token_size; ++i)
    out[4 + i] = token.bytes[i];
}

// False unless `data` is exactly a registration; then its user and token.
inline bool read_media_registration(const uint8_t* data, unsigned length, uint32_t* user,
                                    media_token* token) {
  if (!data || length != media_registration_size)
    return false;
  *user = (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) |
          uint32_t{data[3]};
  for (unsigned i = 0; i < media_token_size; ++i)
    token->bytes[i] = data[4 + i];
  return true;
}

// Peer messages: up to this many bytes go as one message 64/65, longer ones as fragments.
constexpr unsigned peer_single_max = 2000;
constexpr unsigned fragment_header = 12;  // u32 user id, u32 offset, u32 total
constexpr unsigned fragment_data_max = 1388;
constexpr unsigned fragment_max = fragment_header + fragment_data_max;  // 1400
// Largest peer message as a whole; longer ones are refused by the sender and dropped by the
// receiver, which bounds what one reassembly entry may hold.
constexpr unsigned peer_message_max = 1u << 20;

// Message 15: {publisher, kind, n, listener} then n u16 packet numbers.
constexpr unsigned loss_report_header = 16;
constexpr unsigned loss_report_max_numbers = 2000;
// Message 14: {kind, n} then n u16 packet numbers, within max_send_payload.
constexpr unsigned retransmit_header = 8;
constexpr unsigned retransmit_max_numbers = (max_send_payload - retransmit_header) / 2;

}  // namespace pavo_wire

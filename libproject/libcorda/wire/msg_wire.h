// Wire format between libcorda and the message server (described in
// server/msgserver/README.md). Pure functions: no I/O, no allocation beyond
// the output containers, every length checked before it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wirebytes/frames.h"

namespace corda::wire {

constexpr std::uint16_t kProtocolVersion = 1;
// Length field (4 bytes, big-endian) counts the type byte plus the payload.
constexpr std::size_t kLengthSize = wirebytes::kFrameLengthSize;
constexpr std::size_t kHeaderSize = wirebytes::kFrameHeaderSize;
constexpr std::uint32_t kMaxFrameLength = 1u << 20;
constexpr std::size_t kMaxTargetLength = 10;  // "4294967295"
constexpr std::size_t kDeliverOverhead = 4 + 4 + 2 + kMaxTargetLength;
// A send frame's text must still fit once the server wraps it into a deliver frame.
constexpr std::size_t kMaxTextLength = kMaxFrameLength - 1 - kDeliverOverhead;
constexpr std::size_t kMaxPingPayload = 8;
// The credential a hello carries: printable ASCII (0x20..0x7e), 1..255 bytes.
constexpr std::size_t kMaxCredentialLength = 255;
constexpr std::size_t kShortHelloSize = 2 + 4 + 4;

enum class FrameType : std::uint8_t {
  hello = 1,    // client -> server, first frame
  welcome = 2,  // server -> client, answer to hello
  send = 3,     // client -> server
  deliver = 4,  // server -> client
  ping = 5,     // either way, answered by pong with the same payload
  pong = 6,
  close = 7,  // server -> client, reason before the server closes
};

using Frame = wirebytes::typed_frame<FrameType>;  // payload points into the decoded buffer

// ok: all complete frames taken, the rest is an incomplete frame; empty: length 0; oversize:
// length above kMaxFrameLength; unknown_type: type byte outside FrameType. consumed counts the
// bytes of the complete frames appended to out.
using DecodeStatus = wirebytes::frame_status;
using DecodeResult = wirebytes::frame_split;
using wirebytes::to_string;

// Splits bytes into complete frames. On an error, the frames before the bad one
// are in out and consumed covers them; the connection should then be closed.
DecodeResult decode_frames(std::string_view bytes, std::vector<Frame>& out);

// Two forms: the short one (10 bytes, no credential) and the short one followed
// by u16 length and the credential text. An empty credential encodes as the short form.
struct Hello {
  Hello() = default;
  Hello(std::uint16_t v, std::uint32_t user, std::uint32_t channel, std::string_view text = {})
      : version(v), user_id(user), channel_id(channel), credential(text) {}

  std::uint16_t version = kProtocolVersion;
  std::uint32_t user_id = 0;
  std::uint32_t channel_id = 0;
  std::string_view credential;  // as the service issued it for user_id and channel_id
};

struct Welcome {
  std::uint16_t version = kProtocolVersion;
  std::uint32_t idle_timeout_ms = 0;  // the server drops a connection silent for this long
};

struct SendMsg {
  std::string_view target;
  std::string_view text;
};

struct Deliver {
  std::uint32_t sender_id = 0;
  std::uint32_t channel_id = 0;
  std::string_view target;
  std::string_view text;
};

enum class CloseCode : std::uint16_t {
  protocol_error = 1,
  unsupported_version = 2,
  idle_timeout = 3,
  slow_consumer = 4,
  shutting_down = 5,
  credential_refused = 6,  // hello without a credential, or one not valid for its ids
};

struct Close {
  std::uint16_t code = 0;
  std::string_view reason;
};

// Whole frames, header included, ready to write.
std::string encode_frame(FrameType type, std::string_view payload);
std::string encode_hello(const Hello& hello);
std::string encode_welcome(const Welcome& welcome);
std::string encode_send(std::string_view target, std::string_view text);
std::string encode_deliver(const Deliver& deliver);
std::string encode_close(CloseCode code, std::string_view reason);

// Payload decoders: nullopt when the payload is short, long or inconsistent.
std::optional<Hello> decode_hello(std::string_view payload);
std::optional<Welcome> decode_welcome(std::string_view payload);
std::optional<SendMsg> decode_send(std::string_view payload);
std::optional<Deliver> decode_deliver(std::string_view payload);
std::optional<Close> decode_close(std::string_view payload);

// 1..kMaxCredentialLength bytes of printable ASCII.
bool valid_credential(std::string_view credential);

// "*" or a decimal user id without sign that fits 32 bits.
bool valid_target(std::string_view target);
// The user id of a decimal target; nullopt for "*" and invalid targets.
std::optional<std::uint32_t> target_user(std::string_view target);

}  // namespace corda::wire

// Length-prefixed frames over a byte stream, as the message server's and the conversion
// server's protocols send them: a u32 big-endian length counting what follows, one type byte,
// then the payload. What a type means and how long a frame may be is the protocol's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wirebytes/byte_reader.h"
#include "wirebytes/byte_writer.h"

namespace wirebytes {

constexpr std::size_t kFrameLengthSize = 4;
constexpr std::size_t kFrameHeaderSize = kFrameLengthSize + 1;

enum class frame_status {
  ok,            // every complete frame taken; what is left is an incomplete frame
  empty,         // length 0: no type byte
  oversize,      // length above the protocol's limit
  unknown_type,  // type byte the protocol does not know
};

struct frame_split {
  frame_status status = frame_status::ok;
  std::size_t consumed = 0;  // bytes of the complete frames taken
};

inline const char* to_string(frame_status status) {
  switch (status) {
    case frame_status::ok:
      return "ok";
    case frame_status::empty:
      return "empty frame";
    case frame_status::oversize:
      return "frame too large";
    case frame_status::unknown_type:
      return "unknown frame type";
  }
  return "?";
}

// One frame of a protocol whose frame types are the enum Type.
template <class Type>
struct typed_frame {
  Type type;
  std::string_view payload;  // points into the bytes split
};

// Appends every complete frame at the front of `bytes` to out, up to an incomplete frame or the
// first bad header: a length above max_length, or a type outside [first, last]. A header is
// judged as soon as its bytes are in, so a bad length never makes the caller buffer up to it.
template <class Type>
frame_split split_frames(std::string_view bytes, uint32_t max_length, Type first, Type last,
                         std::vector<typed_frame<Type>>& out) {
  frame_split result;
  std::string_view rest = bytes;
  while (rest.size() >= kFrameLengthSize) {
    const uint32_t length = string_reader(rest).u32();
    if (length == 0) {
      result.status = frame_status::empty;
      return result;
    }
    if (length > max_length) {
      result.status = frame_status::oversize;
      return result;
    }
    if (rest.size() < kFrameHeaderSize)
      break;
    const auto type = static_cast<uint8_t>(rest[kFrameLengthSize]);
    if (type < static_cast<uint8_t>(first) || type > static_cast<uint8_t>(last)) {
      result.status = frame_status::unknown_type;
      return result;
    }
    if (rest.size() - kFrameLengthSize < length)
      break;
    out.push_back(
        typed_frame<Type>{static_cast<Type>(type), rest.substr(kFrameHeaderSize, length - 1)});
    rest.remove_prefix(kFrameLengthSize + length);
    result.consumed = bytes.size() - rest.size();
  }
  return result;
}

// A frame's header with room reserved for a payload of `payload_size` bytes, which the caller
// appends (string_writer) to make the whole frame.
template <class Type>
std::string frame_header(Type type, std::size_t payload_size) {
  std::string out;
  out.reserve(kFrameHeaderSize + payload_size);
  string_writer(out).u32(static_cast<uint32_t>(payload_size + 1)).u8(static_cast<uint8_t>(type));
  return out;
}

// A whole frame.
template <class Type>
std::string frame(Type type, std::string_view payload) {
  std::string out = frame_header(type, payload.size());
  out.append(payload);
  return out;
}

}  // namespace wirebytes

// netra: the KCP segment on the wire.
//
// A datagram carries one or more segments back to back. Each segment is a 24-byte header
// followed by `len` data bytes; all header fields are little-endian:
//   conv u32 | cmd u8 | frg u8 | wnd u16 | ts u32 | sn u32 | una u32 | len u32
#pragma once

#include <cstddef>
#include <cstdint>

namespace netra {

constexpr uint8_t kcp_cmd_push = 81;  // data
constexpr uint8_t kcp_cmd_ack = 82;   // acknowledges one sn
constexpr uint8_t kcp_cmd_wask = 83;  // asks the peer for its window
constexpr uint8_t kcp_cmd_wins = 84;  // tells the own window

constexpr std::size_t kcp_overhead = 24;

struct kcp_segment_header {
  uint32_t conv = 0;
  uint8_t cmd = 0;
  uint8_t frg = 0;
  uint16_t wnd = 0;
  uint32_t ts = 0;
  uint32_t sn = 0;
  uint32_t una = 0;
  uint32_t len = 0;
};

// Writes the 24 header bytes to `out`.
void encode_segment_header(const kcp_segment_header& header, uint8_t* out);

// Reads a header from the first 24 bytes; false when fewer are available.
bool decode_segment_header(const uint8_t* data, std::size_t size, kcp_segment_header* header);

// What a whole datagram holds, checked before any of it is used.
struct kcp_datagram_info {
  bool valid = false;     // every segment complete, known cmd, one conv, nothing left over
  uint32_t conv = 0;      // conv of the segments (when valid)
  unsigned segments = 0;  // number of segments (when valid)
  bool opens = false;     // holds a window probe or the first data segment (sn 0)
  uint32_t max_len = 0;   // largest segment data length
};

// Walks the segments of a datagram without trusting any length field.
kcp_datagram_info inspect_datagram(const uint8_t* data, std::size_t size);

}  // namespace netra

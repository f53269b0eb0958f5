// The FEC packets of the video stream: XOR parity over a group of media packets, in the
// spirit of RFC 5109. A group is a run of consecutive media packets (base .. base + count - 1)
// protected by `stride` FEC packets; FEC packet j covers the members j, j + stride, ... so a
// burst of up to `stride` losses still leaves one loss per FEC packet to rebuild.
//
// FEC payload (after the 12-byte RTP header, big-endian):
//   0  u16 base sequence number     2  u16 count of media packets in the group
//   4  u8  stride                   5  u8  index of this FEC packet (< stride)
//   6  u8  media kind of the stream 7  u8  XOR of the members' marker bits
//   8  u32 XOR of the members' timestamps
//  12  u16 XOR of the members' payload lengths
//  14  XOR of the members' payloads (RED byte included), as long as the longest
#pragma once

#include <cstddef>
#include <cstdint>

#include "velmedia/velfec.h"
#include "wirebytes/byte_writer.h"

namespace velmedia_internal {

constexpr unsigned fec_header_size = 14;
// Largest media payload (RED byte and data) such that its FEC packet fits velfec_max_packet.
constexpr unsigned fec_max_media_payload = velfec_max_packet - velrtp_header_size - fec_header_size;
// Media packets a receiver keeps for rebuilding, and the largest group (a power of two that
// divides 65536, so a number maps to one slot).
constexpr unsigned fec_window = 1024;

// Writes the 12-byte RTP header.
inline void write_rtp_header(uint8_t* p, bool marker, int payload_type, uint16_t sequence,
                             uint32_t timestamp, uint32_t ssrc) {
  wirebytes::span_writer(p, velrtp_header_size)
      .u8(0x80)
      .u8(static_cast<uint8_t>((marker ? 0x80 : 0) | (payload_type & 0x7f)))
      .u16(sequence)
      .u32(timestamp)
      .u32(ssrc);
}

// True when `a` is after `b` in 16-bit wrap-around order.
inline bool fec_seq_newer(uint16_t a, uint16_t b) {
  return a != b && static_cast<uint16_t>(a - b) < 0x8000;
}

}  // namespace velmedia_internal

// The audio datagram of the room's audio stream, both directions (big-endian fields):
//   0x90 | payload type 2 | u16 sequence | u32 timestamp | u32 SSRC | u16 length L | L bytes,
// then 0-2 redundancy blocks, oldest first: u16 length n | u16 sequence | u32 timestamp | n bytes.
// Each datagram carries up to two earlier frames, so one lost datagram loses no frame.
#pragma once

#include <cstdint>
#include <vector>

constexpr unsigned audio_max_datagram = 1500;
constexpr unsigned audio_rtp_header_size = 12;
constexpr unsigned audio_primary_offset = 14;
constexpr unsigned audio_block_header_size = 8;
constexpr uint8_t audio_rtp_first_byte = 0x90;
constexpr uint8_t audio_payload_type = 2;

// One frame of the sender's history.
struct his_rtp_data_t {
  unsigned length = 0;
  uint8_t data[audio_max_datagram];
  uint16_t seq = 0;
  uint32_t timestamp = 0;
};

// Builds the datagrams of one outgoing stream: its sequence numbers and the two frames of
// history that ride along as redundancy.
class audio_rtp_packetizer {
public:
  explicit audio_rtp_packetizer(uint32_t ssrc) : ssrc_(ssrc) {}

  static constexpr unsigned history_size = 2;

  // Writes the datagram for the next frame into `out` (audio_max_datagram bytes) and returns
  // its length. Redundancy that would not fit the datagram is left out, newest kept first; a
  // frame that does not fit even alone is not sent (0) and takes no sequence number.
  unsigned packetize(const uint8_t* frame, unsigned length, uint32_t timestamp, uint8_t* out);

  uint16_t next_sequence() const { return next_seq_; }

private:
  const uint32_t ssrc_;
  uint16_t next_seq_ = 0;
  his_rtp_data_t history_[history_size];  // oldest first
  unsigned history_count_ = 0;
};

// One frame inside a received datagram; `data` points into the datagram.
struct audio_frame_ref {
  uint16_t seq = 0;
  uint32_t timestamp = 0;
  const uint8_t* data = nullptr;
  unsigned length = 0;
};

// Splits a datagram into its current frame and its redundancy blocks (oldest first). False,
// with nothing read past `length`, when it is not an audio datagram or its frame does not fit;
// a truncated or empty redundancy block ends the list.
bool parse_audio_datagram(const uint8_t* data, unsigned length, audio_frame_ref* primary,
                          std::vector<audio_frame_ref>* redundancy);

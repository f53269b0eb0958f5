// The room audio datagram as the MCU reads and writes it; the format itself is the clients'
// (audio_rtp_packet.h): 0x90 | payload type 2 | u16 sequence | u32 timestamp | u32 SSRC |
// u16 length L | L bytes, then 0-2 redundancy blocks, oldest first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio_rtp_packet.h"

namespace mcu {

constexpr unsigned audio_datagram_max = audio_max_datagram;

struct audio_frame_view {
  uint16_t seq = 0;
  uint32_t timestamp = 0;
  const uint8_t* data = nullptr;
  unsigned length = 0;
};

// Splits a datagram into its frames, the current one first, then the redundancy blocks
// (oldest first). False, with nothing read past `length`, when it is not an audio datagram or
// its current frame does not fit; a truncated or empty redundancy block ends the list.
bool parse_audio_frames(const uint8_t* data, std::size_t length,
                        std::vector<audio_frame_view>* frames);

// One outgoing stream: its own sequence numbers and timestamps, and the two frames before
// the current one, repeated in each datagram.
class audio_stream_packetizer {
public:
  explicit audio_stream_packetizer(uint32_t ssrc) : packetizer_(ssrc) {}

  // The datagram for the next frame (`samples` long at 48 kHz), empty when the frame does
  // not fit a datagram even alone. Redundancy that does not fit is left out, newest kept.
  std::vector<uint8_t> next(const uint8_t* frame, unsigned length, uint32_t samples);

  uint16_t next_sequence() const { return packetizer_.next_sequence(); }

private:
  audio_rtp_packetizer packetizer_;
  uint32_t timestamp_ = 0;
};

}  // namespace mcu

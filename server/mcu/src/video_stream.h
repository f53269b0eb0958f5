// One published video stream as the relay sees it: the packets it keeps for retransmission
// and for newcomers (from the newest key frame on), and the loss it counts for the
// publisher's feedback. No sockets: the relay feeds it and sends what it answers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "velmedia/velfec.h"

namespace mcu {

// Payload types of the video packets: media (RED) packets and FEC packets.
constexpr uint8_t video_red_pt = 100;
constexpr uint8_t video_fec_pt = 101;
// Largest media datagram accepted; anything longer is not ours.
constexpr std::size_t max_media_datagram = 1500;

// True when `a` is after `b` in 16-bit wrap-around order.
inline bool seq_newer(uint16_t a, uint16_t b) {
  return a != b && static_cast<uint16_t>(a - b) < 0x8000;
}

// True when a media packet opens a key frame: after the RED byte an Annex-B start code and
// a NAL unit of type 5 (IDR), 7 (SPS) or 8 (PPS).
bool opens_key_frame(const uint8_t* packet, std::size_t length);

class video_stream {
public:
  // Packets kept; a power of two that divides 65536, so a number always maps to one slot.
  static constexpr unsigned cache_slots = 2048;

  // A media packet from the publisher, arrived at `now_ms`. False when that number is already
  // held (a copy the relay has forwarded before): it is then not forwarded again.
  // `rtp` is the packet's header as velrtp_read_header reads it.
  bool store(const velrtp_header& rtp, const uint8_t* packet, std::size_t length, uint64_t now_ms);
  // The held packet of `sequence`; null when not held.
  const std::vector<uint8_t>* find(uint16_t sequence) const;
  // The numbers held from the newest key frame's first packet to the newest packet, in
  // order; empty when that key frame is no longer held.
  std::vector<uint16_t> from_last_key_frame() const;
  // Forgets everything (the publisher's stream started again).
  void reset();

  // Whether the publisher should be asked for `sequence` now: not asked within `gap_ms`.
  bool should_ask(uint16_t sequence, uint64_t now_ms, uint32_t gap_ms);

  // Counters of the current feedback period.
  struct period {
    uint32_t received = 0;  // new media packets
    uint32_t missing = 0;   // numbers skipped by the publisher's packets (upstream loss)
    // Queuing delay on the way in: each new frame's transit time (arrival minus its
    // timestamp) above the smallest transit seen lately, summed over the frames.
    uint64_t delay_sum_ms = 0;
    uint32_t frames = 0;
    uint32_t queue_delay_ms() const {
      return frames ? static_cast<uint32_t>(delay_sum_ms / frames) : 0;
    }
  };
  period take_period();

private:
  struct slot {
    bool used = false;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    std::vector<uint8_t> bytes;
  };
  struct asked {
    bool used = false;
    uint16_t sequence = 0;
    uint64_t at_ms = 0;
  };

  std::array<slot, cache_slots> slots_{};
  std::array<asked, cache_slots> asked_{};
  void note_frame(uint32_t timestamp, uint64_t now_ms);

  bool have_newest_ = false;
  uint16_t newest_ = 0;
  bool have_frame_ = false;
  uint32_t frame_timestamp_ = 0;  // the newest frame's
  // Smallest transit in the current and the previous window (the maximum: none yet).
  int64_t min_transit_now_ = std::numeric_limits<int64_t>::max(),
          min_transit_before_ = std::numeric_limits<int64_t>::max();
  uint64_t window_start_ms_ = 0;
  bool have_key_ = false;
  uint16_t key_sequence_ = 0;
  uint32_t key_timestamp_ = 0;
  period period_;
};

// A listener's view of one stream: which of its reported numbers are new losses and when a
// number was last sent again to it.
class listener_losses {
public:
  // One reported number. *is_new is true the first time it is reported; the result is true
  // when it should be sent (again) now: first report, or not sent within `gap_ms`.
  bool reported(uint16_t sequence, uint64_t now_ms, uint32_t gap_ms, bool* is_new);
  // New losses counted since the last call.
  uint32_t take_new_losses();

private:
  struct entry {
    bool used = false;
    uint16_t sequence = 0;
    uint64_t sent_ms = 0;
  };
  std::vector<entry> entries_ = std::vector<entry>(video_stream::cache_slots);
  uint32_t new_losses_ = 0;
};

// Feedback for a publisher from one period: the loss fraction in 1/256 units (message 16)
// and the quality level, the loss in percent (message 17). Upstream loss and the worst
// listener's loss count; fewer than `min_packets` packets give no verdict (false).
bool period_feedback(uint32_t received, uint32_t upstream_missing, uint32_t worst_listener_losses,
                     uint32_t min_packets, uint32_t* loss_256, uint32_t* level);

}  // namespace mcu

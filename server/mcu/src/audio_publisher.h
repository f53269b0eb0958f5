// One audio publisher inside the mixer: its frames, reordered by sequence number, and its
// decoder. Datagrams come in on the relay's thread; the mixing clock takes one 20 ms frame
// per tick. A short lead (two frames) absorbs arrival jitter; a missing frame is concealed
// rather than waited for, so one late publisher never holds up the mix.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

struct OpusDecoder;

namespace mcu {

constexpr unsigned mix_rate = 48000;
constexpr unsigned mix_channels = 2;
constexpr unsigned mix_frame = mix_rate / 50;  // sample frames per 20 ms
constexpr unsigned mix_samples = mix_frame * mix_channels;

class audio_publisher {
public:
  audio_publisher();
  ~audio_publisher();
  audio_publisher(const audio_publisher&) = delete;
  audio_publisher& operator=(const audio_publisher&) = delete;

  bool ok() const { return decoder_ != nullptr; }

  // A datagram from the publisher; malformed ones are dropped (false).
  bool datagram(const uint8_t* data, std::size_t length);

  // Mixing clock: the next 20 ms of this publisher into `pcm` (mix_samples). False when it
  // contributes nothing this tick (not started, or silent for a while).
  bool next_frame(int16_t* pcm);
  // The last tick after leaving: a concealed frame fading out, so its end is not a click.
  bool fade_out(int16_t* pcm);

  static constexpr std::size_t lead_frames = 2;        // held before playing starts
  static constexpr std::size_t max_held = 8;           // beyond this the oldest are skipped
  static constexpr unsigned conceal_when_missing = 3;  // then it counts as silent
  static constexpr unsigned resync_after = 10;         // late frames in a row: a restart

  struct counters {
    uint64_t decoded = 0;
    uint64_t concealed = 0;
    uint64_t late = 0;     // arrived after their turn, or repeated
    uint64_t skipped = 0;  // dropped to keep the delay short
  };
  counters stats() const;

private:
  static int64_t unwrap(uint16_t seq, int64_t reference);

  mutable std::mutex mutex_;  // packets_, next_, playing_, counters_
  std::map<int64_t, std::vector<uint8_t>> packets_;
  bool have_reference_ = false;
  int64_t reference_ = 0;  // the position new sequence numbers are unwrapped near
  bool playing_ = false;
  int64_t next_ = 0;  // position of the frame due next
  unsigned late_in_row_ = 0;
  counters counters_;

  // Mixing thread only.
  OpusDecoder* decoder_ = nullptr;
  bool decoded_any_ = false;
  unsigned missing_ = 0;  // ticks in a row without a frame
  bool fade_in_ = true;
};

}  // namespace mcu

// The decoded sound waiting for the speaker, 48 kHz interleaved stereo. It owns the playout
// delay: whatever arrives in a burst is brought back near a small target, by dropping the
// oldest sound when far above it and by splicing a few milliseconds out of new frames when
// somewhat above.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

namespace audira_internal {

constexpr unsigned playout_rate = 48000;
constexpr unsigned playout_channels = 2;

// Delays in sample frames.
struct playout_limits {
  unsigned target = playout_rate * 60 / 1000;          // where the delay settles
  unsigned compress_above = playout_rate * 80 / 1000;  // new frames are shortened above this
  unsigned drop_above = playout_rate * 160 / 1000;     // the oldest sound is dropped above this
  unsigned resume_at = playout_rate * 40 / 1000;       // after running dry, wait for this much
  unsigned min_cut = playout_rate * 25 / 10000;        // a frame is shortened by 2.5 ms
  unsigned max_cut = playout_rate * 10 / 1000;         // to 10 ms
};

struct playout_stats {
  uint64_t pushed = 0;      // sample frames handed in
  uint64_t dropped = 0;     // sample frames thrown away to cut the delay
  uint64_t compressed = 0;  // sample frames saved by shortening
  uint64_t underruns = 0;   // times the speaker found the queue empty while playing
};

class playout_queue {
public:
  explicit playout_queue(playout_limits limits = {}) : limits_(limits) {}

  // Appends `frames` sample frames (interleaved stereo), then trims the delay.
  void push(const int16_t* pcm, unsigned frames);
  // Takes up to `frames` sample frames into `out`; returns how many (the rest is silence).
  unsigned pull(int16_t* out, unsigned frames);

  unsigned queued_frames() const;
  playout_stats stats() const;

private:
  void drop_oldest(unsigned frames);

  const playout_limits limits_;
  mutable std::mutex mutex_;
  std::deque<int16_t> samples_;
  bool waiting_ = true;  // nothing plays until resume_at frames are queued
  playout_stats stats_;
};

// Shortens `frames` sample frames of interleaved stereo in place by between `min_cut` and
// `max_cut` frames: the cut whose far side best matches its near side (whole pitch periods),
// cross-faded so neither a step nor a phase jump is heard. Returns the new length; a frame
// too short to splice is left as it is.
unsigned shorten_frame(int16_t* pcm, unsigned frames, unsigned min_cut, unsigned max_cut);

}  // namespace audira_internal

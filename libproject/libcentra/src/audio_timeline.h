// The class's sound as one continuous track. The room's mixed stream arrives in decoded
// pieces, each stamped with its arrival on the recording's clock; a piece belongs at its
// arrival less the way sound takes compared with pictures (the jitter buffer holds 400 ms
// more than the video path does). Pieces are laid where they belong: a gap (nobody spoke,
// the stream began late) becomes silence, a piece that came too late is shortened, and the
// track is written only up to a little behind the present, so late pieces still fit.
// Pieces arrive on the receive thread, the track is taken on the recording thread.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace centra_impl {

class audio_timeline {
public:
  static constexpr int kRate = 48000;
  static constexpr int kChannels = 2;
  // How much later sound arrives than the pictures of the same moment.
  static constexpr int64_t kSoundDelayMs = 350;
  // The track is written up to this far behind the present.
  static constexpr int64_t kWriteBehindMs = 700;
  // Sound waiting for the track beyond this is dropped (a stalled recording).
  static constexpr size_t kMaxPendingFrames = kRate * 10;

  // A piece of `frames` interleaved stereo samples that arrived at `arrival_ms`.
  void add(int64_t arrival_ms, const int16_t* samples, size_t frames);
  // The track from where it stands up to `now_ms` less kWriteBehindMs: appended to `out`
  // (interleaved stereo). Returns the frames appended.
  size_t take_until(int64_t now_ms, std::vector<int16_t>* out);
  // Frames written to the track so far.
  int64_t written() const { return written_; }
  // Drops what waits (recording paused or ended).
  void clear();

private:
  struct piece {
    int64_t at;  // frame index on the track where it belongs
    std::vector<int16_t> samples;
  };
  std::mutex mutex_;
  std::deque<piece> pieces_;
  size_t pending_ = 0;
  int64_t written_ = 0;  // recording thread only
};

}  // namespace centra_impl

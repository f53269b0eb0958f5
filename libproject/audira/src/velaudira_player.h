// velaudira behind its interface: an Opus decoder feeding a playout_queue that a speaker of
// velmedia's audio device drains.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "audira/velaudira.h"
#include "playout_queue.h"
#include "velmedia/velaudio_device.h"

struct OpusDecoder;

namespace audira_internal {

class velaudira_player : public velaudira, public velAudioTransport {
public:
  // Null when no audio device or no decoder is available or the speaker does not open.
  static std::unique_ptr<velaudira_player> open(int speaker_index);
  ~velaudira_player() override;

  int play(const common_data_t* frame) override;
  int conceal(unsigned count) override;

  int recorded_data_available(const void*, unsigned, unsigned, unsigned, unsigned) override {
    return 0;
  }
  int need_more_play_data(unsigned sample_count, unsigned bytes_per_sample, unsigned channels,
                          unsigned sample_rate, void* samples, unsigned* samples_out) override;

  const playout_queue& queue() const { return queue_; }

  // Sees every block handed to the speaker (interleaved stereo, frames written), on the
  // speaker's thread: for measuring when sound leaves the player.
  using output_tap = std::function<void(const int16_t* samples, unsigned frames)>;
  void set_output_tap(output_tap tap);

  // Longest frame Opus produces: 120 ms at 48 kHz.
  static constexpr unsigned max_frame = playout_rate * 120 / 1000;
  static constexpr unsigned max_conceal = 5;

private:
  velaudira_player() = default;

  std::unique_ptr<velaudio_device> device_;
  std::mutex decoder_mutex_;
  OpusDecoder* decoder_ = nullptr;
  unsigned last_frames_ = 0;  // length of the last decoded frame; 0 before the first
  std::vector<int16_t> pcm_;
  playout_queue queue_;
  std::mutex tap_mutex_;
  output_tap tap_;
};

}  // namespace audira_internal

// libvocalia_play behind its interface: the clip read whole into memory and indexed, its
// frames decoded on the speaker's thread as velmedia's audio device asks for sound, and a
// reporting thread that tells the observer about each new second and the end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "clip_format.h"
#include "velmedia/velaudio_device.h"
#include "vocalia/vocalia.h"

struct OpusDecoder;

namespace vocalia_internal {

// A clip is read whole; longer files are played up to here (32 MiB is well over an hour at
// the recording bitrate).
constexpr std::size_t max_clip_bytes = 32u << 20;

class clip_player final : public libvocalia_play, public velAudioTransport {
public:
  // Null when `path` is no clip or speaker `output` does not open. A negative `output`, like
  // one beyond the speaker list, plays on the default output.
  static std::unique_ptr<clip_player> open(notify_progress2ui* observer, const char* path,
                                           int output);
  ~clip_player() override;

  int set_play_state(int state) override;
  int seek_percent(int percent) override;

  int recorded_data_available(const void*, unsigned, unsigned, unsigned, unsigned) override {
    return 0;
  }
  int need_more_play_data(unsigned sample_count, unsigned bytes_per_sample, unsigned channels,
                          unsigned sample_rate, void* samples, unsigned* samples_out) override;

  // The clip length reported as `total`.
  unsigned total_seconds() const { return total_; }

private:
  clip_player(notify_progress2ui* observer, std::vector<uint8_t> data, clip_index index);
  void report_loop();
  // With mutex_ held.
  void decode_next();
  unsigned current_second() const;

  notify_progress2ui* const observer_;
  const std::vector<uint8_t> data_;
  const clip_index index_;
  const unsigned total_;

  OpusDecoder* decoder_ = nullptr;
  std::unique_ptr<velaudio_device> device_;
  std::thread reporter_;

  std::mutex mutex_;
  std::condition_variable wake_;
  // Guarded by mutex_:
  std::size_t next_frame_ = 0;  // the next frame to decode
  std::vector<int16_t> pcm_;    // the last decoded frame, mono
  std::size_t pcm_frames_ = 0;
  std::size_t pcm_at_ = 0;  // samples of it already played
  bool paused_ = false;
  bool ended_ = false;
  bool quit_ = false;
  bool decode_error_logged_ = false;
};

}  // namespace vocalia_internal

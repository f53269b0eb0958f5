// libvocalia_record behind its interface: velsample_encode's 20 ms Opus frames from one
// microphone, appended to the clip file on the capture thread as they come.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "vocalia/vocalia.h"

struct velsample_encoder;

namespace vocalia_internal {

// A recording keeps at most 30 minutes; later frames are dropped (a recorder left running
// must not fill the disk).
constexpr uint32_t max_record_frames = 30 * 60 * 50;
// Voice quality at a few kilobytes a second.
constexpr int record_bitrate = 24000;

class clip_recorder final : public libvocalia_record {
public:
  // Null when `path` cannot be created or microphone `device` does not record. Keeps at most
  // `max_frames` frames.
  static std::unique_ptr<clip_recorder> open(const char* path, unsigned short device,
                                             uint32_t max_frames = max_record_frames);
  ~clip_recorder() override;

  // Frames in the file so far.
  uint32_t frames_written() const { return frames_.load(); }

private:
  clip_recorder(std::FILE* file, uint32_t max_frames) : file_(file), max_frames_(max_frames) {}
  static void on_frame(const uint8_t* data, unsigned length, uint32_t timestamp, void* user);
  void append(const uint8_t* data, unsigned length);

  std::FILE* file_;
  const uint32_t max_frames_;
  velsample_encoder* encoder_ = nullptr;
  std::atomic<uint32_t> frames_{0};
  bool write_failed_ = false;  // the capture thread's, until the encoder is closed
};

}  // namespace vocalia_internal

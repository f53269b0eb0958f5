// The recording file: H.264 (libx264) and AAC in a fragmented MP4, a fragment from each key
// frame (every two seconds) written out at once, so that whatever stops the program loses at
// most the fragment being filled, and the file stays readable up to the last fragment
// written when the disk fills up.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace centra_impl {

struct mp4_settings {
  int width = 1280;
  int height = 720;
  int fps = 15;
  int crf = 26;         // libx264's quality
  int max_kbps = 2000;  // and its ceiling
  int audio_kbps = 96;  // AAC
  int sample_rate = 48000;
  int channels = 2;
  int key_seconds = 2;  // a key frame, and so a fragment, this often
};

class mp4_writer {
public:
  mp4_writer();
  ~mp4_writer();  // closes as close() does
  mp4_writer(const mp4_writer&) = delete;
  mp4_writer& operator=(const mp4_writer&) = delete;

  bool open(const std::string& path, const mp4_settings& settings, std::string* error);
  // One picture of width x height 32-bit words 0xffRRGGBB (rows `stride` bytes apart) at `ms`
  // on the recording's clock; a picture not later than the one before is skipped.
  bool write_video(const uint8_t* pixels, int stride, int64_t ms);
  // `frames` interleaved 16-bit samples of every channel, following the ones before.
  bool write_audio(const int16_t* samples, size_t frames);
  // Flushes the encoders and ends the file; false when anything could not be written.
  bool close();

  bool is_open() const;
  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }
  // Milliseconds of video written (the last picture's time).
  int64_t written_ms() const { return last_ms_ < 0 ? 0 : last_ms_; }
  // Bytes in the file so far.
  int64_t bytes() const;

private:
  struct impl;
  bool fail(const std::string& what, int code);
  bool send_audio_frame(bool flush);

  std::unique_ptr<impl> m_;
  bool failed_ = false;
  std::string error_;
  int64_t last_ms_ = -1;
};

}  // namespace centra_impl

// One opened camera as an FFmpeg input: reads, decodes and converts its pictures to I420.
#pragma once

#include <cstdint>
#include <vector>

#include "camera_list.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace velmedia_internal {

class camera_input {
public:
  camera_input() = default;
  ~camera_input();
  camera_input(const camera_input&) = delete;
  camera_input& operator=(const camera_input&) = delete;

  // Opens `camera` asking for width x height at fps; on success the three hold what the
  // camera gives (width and height even, fps at least 1).
  bool open(const camera_info& camera, int* width, int* height, int* fps);

  enum class result { picture, again, failed };
  // Reads what the camera has: `picture` when `i420` now holds one picture of the opened size,
  // `again` when nothing is ready yet (a live camera is read without blocking), `failed` when
  // the camera is gone.
  result read(std::vector<uint8_t>* i420);

  bool synthetic() const { return synthetic_; }

private:
  bool open_input(const camera_info& camera, int width, int height, int fps, bool with_options);
  bool open_decoder();
  bool convert(const AVFrame* frame, std::vector<uint8_t>* i420);
  void release();

  AVFormatContext* format_ = nullptr;
  AVCodecContext* decoder_ = nullptr;
  SwsContext* scaler_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  int stream_ = -1;
  int width_ = 0;
  int height_ = 0;
  bool synthetic_ = false;
};

}  // namespace velmedia_internal

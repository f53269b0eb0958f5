// Converts pictures to packed RGB24 with a cached bicubic scaler and one reused buffer.
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;

class rgb_converter {
public:
  rgb_converter() = default;
  ~rgb_converter();
  rgb_converter(const rgb_converter&) = delete;
  rgb_converter& operator=(const rgb_converter&) = delete;

  // Converts `frame` at its own size; the result stays valid until the next call. Null when
  // the scaler or the buffer cannot be made.
  const unsigned char* convert(const AVFrame* frame);
  int width() const { return width_; }
  int height() const { return height_; }
  // Size of the buffer (grows only), for tests.
  int buffer_width() const { return buffer_width_; }
  int buffer_height() const { return buffer_height_; }

private:
  SwsContext* sws_ = nullptr;
  uint8_t* buffer_ = nullptr;
  int buffer_width_ = 0;
  int buffer_height_ = 0;
  int width_ = 0;
  int height_ = 0;
};

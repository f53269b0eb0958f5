// Frame buffers handed to the observer with event 12 and returned with media_ctrl 16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "libpavo/libpavo.h"
#include "velmedia/velconvert.h"

namespace pavo {

inline uint8_t* frame_alloc(std::size_t bytes) {
  return new (std::nothrow) uint8_t[bytes];
}
inline void frame_free(void* pixels) {
  delete[] static_cast<uint8_t*>(pixels);
}

// An event-12 picture of an I420 one, in `format` (pavo_frame_format), converted once; null
// when it cannot be made.
inline uint8_t* frame_from_i420(const uint8_t* i420, int width, int height, int format) {
  const bool words = format == pavo_frame_rgb32;
  uint8_t* pixels =
      frame_alloc(words ? velmedia_rgb32_size(width, height) : velmedia_bgr24_size(width, height));
  if (!pixels)
    return nullptr;
  const int result =
      words ? yuv4202rgb32(i420, pixels, width, height) : yuv4202bgr24(i420, pixels, width, height);
  if (result != 0) {
    frame_free(pixels);
    return nullptr;
  }
  return pixels;
}

}  // namespace pavo

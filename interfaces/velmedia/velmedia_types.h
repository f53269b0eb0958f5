// velmedia: values shared by the media engine's classes.
//
// Pictures move between the classes as I420: a Y plane of width*height bytes followed by
// the U and V planes of ((width+1)/2)*((height+1)/2) bytes each, rows without padding. For
// the even sizes the engine produces this is width*height*3/2 bytes.
#pragma once

#include <cstdint>

// Size of every device-name buffer of the engine; names are cut to fit and NUL-terminated.
constexpr unsigned velmedia_name_size = 128;

// Bytes of an I420 picture of the given size (0 for non-positive sizes).
inline unsigned velmedia_i420_size(int width, int height) {
  if (width <= 0 || height <= 0)
    return 0;
  const unsigned w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
  return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
}

// Bytes of a packed BGR24 picture of the given size (0 for non-positive sizes).
inline unsigned velmedia_bgr24_size(int width, int height) {
  if (width <= 0 || height <= 0)
    return 0;
  return static_cast<unsigned>(width) * static_cast<unsigned>(height) * 3;
}

// Bytes of a picture of 32-bit pixels of the given size (0 for non-positive sizes).
inline unsigned velmedia_rgb32_size(int width, int height) {
  if (width <= 0 || height <= 0)
    return 0;
  return static_cast<unsigned>(width) * static_cast<unsigned>(height) * 4;
}

// Whoever draws over the shared area answers the media library's request for
// the drawing layer laid over the own screen share. Called on a media
// library thread: implementations copy what they kept under their own lock.
#pragma once

#include <cstdint>

class MarkLayerSource {
public:
  virtual ~MarkLayerSource() = default;
  // Copies the layer (32-bit premultiplied ARGB) into data when it fits
  // capacity and sets width, height and len; leaves len 0 when there is none.
  virtual void fillMarkBitmap(uint8_t* data, unsigned capacity, int& width, int& height,
                              int& len) = 0;
};

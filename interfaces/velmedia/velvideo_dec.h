// velmedia: H.264 video decoder.
#pragma once

#include <cstdint>

#include "velmedia/velmedia_types.h"

// Receiver of decoded pictures. Called from inside velvideo_dec::decode.
class velcode_dec_data {
public:
  // slot 0
  virtual ~velcode_dec_data() = default;
  // slot 1: one decoded picture, I420 of width x height (velmedia_i420_size bytes); valid
  // only during the call.
  virtual void on_decoded_data(const uint8_t* i420, int width, int height) = 0;
};

// Decodes complete H.264 frames (Annex-B). Not thread-safe: one thread decodes at a time.
class velvideo_dec {
public:
  // Null when no decoder is available or `sink` is null.
  static velvideo_dec* create(velcode_dec_data* sink);

  // slot 0: frees the decoder.
  virtual ~velvideo_dec() = default;

  // slot 1: decodes one whole frame; each picture it completes goes to the sink before this
  // returns. 0 done (also when the frame yields no picture yet); -1 bad arguments or data the
  // decoder rejects (the decoder stays usable).
  virtual int decode(const uint8_t* data, unsigned length) = 0;
};

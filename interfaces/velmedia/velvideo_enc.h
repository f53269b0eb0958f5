// velmedia: H.264 video encoder.
#pragma once

#include <cstdint>

#include "velmedia/velmedia_types.h"

// Receiver of encoded frames. Called from inside velvideo_enc::encode, on its caller's thread.
class velcode_enc_data {
public:
  // slot 0
  virtual ~velcode_enc_data() = default;
  // slot 1: one encoded frame as an H.264 Annex-B byte stream (it begins with a start code),
  // the timestamp given to encode, frame type 1 for a key frame (an IDR picture with its
  // parameter sets in front) and 0 otherwise. `data` is valid only during the call.
  virtual void on_encoded_data(const uint8_t* data, unsigned length, uint32_t timestamp,
                               int frame_type) = 0;
};

// Encodes I420 pictures of one fixed size. Not thread-safe: one thread encodes at a time.
// A key frame comes first and then at least every 2 seconds of frames (2 * fps), so a
// receiver that joins late can start decoding.
class velvideo_enc {
public:
  // width and height even and positive, fps 1-60, bitrate in kbit/s (> 0); `screen` tunes
  // the encoder for screen content. Null on bad arguments or when no encoder is available.
  static velvideo_enc* create(int width, int height, int fps, int bitrate_kbps,
                              velcode_enc_data* sink, bool screen);

  // slot 0: frees the encoder (frames still inside it are dropped).
  virtual ~velvideo_enc() = default;

  // slot 1: encodes one picture (`length` must be at least velmedia_i420_size of the size)
  // taken at `timestamp_ms`; the sink gets its frame before this returns (the encoder holds
  // nothing back). 0 done; -1 bad arguments or an encoder failure.
  virtual int encode(const uint8_t* i420, unsigned length, uint32_t timestamp_ms) = 0;
};

// audira: decoding and playback of the room's audio stream.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>

// One encoded audio frame. Owns a copy of its bytes; movable, not copyable.
struct common_data_t {
  uint8_t* data = nullptr;
  unsigned length = 0;

  common_data_t() = default;
  // Copies `size` bytes from `bytes`; stays empty when the copy cannot be made.
  common_data_t(const void* bytes, unsigned size) {
    if (bytes && size > 0) {
      data = new (std::nothrow) uint8_t[size];
      if (data) {
        std::memcpy(data, bytes, size);
        length = size;
      }
    }
  }
  common_data_t(common_data_t&& other) noexcept : data(other.data), length(other.length) {
    other.data = nullptr;
    other.length = 0;
  }
  common_data_t& operator=(common_data_t&& other) noexcept {
    if (this != &other) {
      delete[] data;
      data = other.data;
      length = other.length;
      other.data = nullptr;
      other.length = 0;
    }
    return *this;
  }
  common_data_t(const common_data_t&) = delete;
  common_data_t& operator=(const common_data_t&) = delete;
  ~common_data_t() { delete[] data; }
};

// Decodes Opus frames as velsample_encode (velmedia) makes them, mono or stereo at any of its
// rates, and plays them on one speaker. A short playout buffer smooths the arrival; when it
// runs dry the speaker plays silence. The player keeps its own delay small: sound that
// arrives in a burst (a jitter buffer handing over its backlog) is dropped or played slightly
// faster until the buffer is back near its target.
class velaudira {
public:
  // Plays on speaker `speaker_index` (the velaudio_device speaker list; an index beyond it
  // uses the default output). Null when no output device or decoder is available.
  static velaudira* create(int speaker_index);

  // slot 0: stops playback and frees the player.
  virtual ~velaudira() = default;

  // slot 1: decodes one frame and queues its sound. The frame stays the caller's. 0 done;
  // -1 for a null or empty frame or data the decoder rejects (dropped).
  virtual int play(const common_data_t* frame) = 0;

  // slot 2: `count` frames were lost and will not come: plays that many concealment frames
  // (the decoder's loss concealment, at most 5), so a gap is smoothed instead of cut out. 0
  // done; -1 when the player has nothing to conceal from (no frame played yet) or cannot.
  virtual int conceal(unsigned count) {
    (void)count;
    return -1;
  }
};

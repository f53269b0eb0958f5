// The room's mixed sound for the recording instead of a speaker: the media library's audio
// receiver hands it Opus frames in order (after its jitter buffer), as it would to the
// player; they are decoded here to 48 kHz stereo and given to the sink with their arrival.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "audira/velaudira.h"

struct OpusDecoder;

namespace centra_impl {

class pcm_player : public velaudira {
public:
  // Interleaved stereo samples and their count of frames; on the receive thread.
  using sink = std::function<void(const int16_t* samples, size_t frames)>;

  explicit pcm_player(sink to);
  ~pcm_player() override;

  int play(const common_data_t* frame) override;
  int conceal(unsigned count) override;

  bool ok() const { return decoder_ != nullptr; }

private:
  sink sink_;
  OpusDecoder* decoder_ = nullptr;
  bool played_ = false;
  std::vector<int16_t> buffer_;
};

}  // namespace centra_impl

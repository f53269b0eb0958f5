// A source of recorded audio behind velaudio_device: a sound card's microphone or the
// synthetic one.
#pragma once

#include <cstdint>
#include <functional>

namespace velmedia_internal {

// Block format every source delivers: 10 ms of interleaved signed 16-bit stereo at 48 kHz.
constexpr unsigned record_rate = 48000;
constexpr unsigned record_channels = 2;
constexpr unsigned record_block_frames = record_rate / 100;

// Receives one block (`frames` sample frames) on the source's own thread.
using audio_block_sink = std::function<void(const int16_t* samples, unsigned frames)>;

class microphone_source {
public:
  virtual ~microphone_source() = default;
  // Starts delivering blocks to `sink`. False when the device does not open.
  virtual bool start(audio_block_sink sink) = 0;
  // Stops; when it returns the sink is not running and will not be called again.
  virtual void stop() = 0;
};

}  // namespace velmedia_internal

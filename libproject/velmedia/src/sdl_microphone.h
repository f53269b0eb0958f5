// A sound card's microphone through SDL's audio capture.
#pragma once

#include <string>
#include <vector>

#include "microphone_source.h"

namespace velmedia_internal {

class sdl_microphone : public microphone_source {
public:
  // `device_name` as SDL lists it (SDL_GetAudioDeviceName with iscapture 1).
  explicit sdl_microphone(std::string device_name) : device_name_(std::move(device_name)) {}
  ~sdl_microphone() override { stop(); }

  bool start(audio_block_sink sink) override;
  void stop() override;

private:
  static void on_audio(void* self, uint8_t* stream, int length);
  void take(const int16_t* samples, unsigned count);

  std::string device_name_;
  unsigned device_ = 0;  // SDL_AudioDeviceID, 0 when closed
  audio_block_sink sink_;
  // SDL hands over whatever its driver's period is; blocks are cut to 10 ms here.
  std::vector<int16_t> pending_;
  size_t pending_samples_ = 0;
};

}  // namespace velmedia_internal

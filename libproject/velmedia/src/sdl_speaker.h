// A sound card's speaker through SDL's audio output: pulls 48 kHz stereo 16-bit samples from
// a source on SDL's device thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velmedia_internal {

// Fills `frames` sample frames of interleaved stereo into `samples`; returns how many it
// wrote (the rest plays as silence).
using audio_pull_source = std::function<unsigned(int16_t* samples, unsigned frames)>;

class sdl_speaker {
public:
  // `device_name` as SDL lists it (SDL_GetAudioDeviceName with iscapture 0); empty: the
  // default output.
  explicit sdl_speaker(std::string device_name) : device_name_(std::move(device_name)) {}
  ~sdl_speaker() { stop(); }
  sdl_speaker(const sdl_speaker&) = delete;
  sdl_speaker& operator=(const sdl_speaker&) = delete;

  // False when the device does not open.
  bool start(audio_pull_source source);
  // When it returns the source is not running and will not be called again.
  void stop();

private:
  static void on_audio(void* self, uint8_t* stream, int length);

  std::string device_name_;
  unsigned device_ = 0;  // SDL_AudioDeviceID, 0 when closed
  audio_pull_source source_;
};

}  // namespace velmedia_internal

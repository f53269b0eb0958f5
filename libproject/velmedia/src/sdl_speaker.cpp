#include "sdl_speaker.h"

#include <cstring>
#include <mutex>

#include <SDL.h>

#include "media_runtime.h"
#include "microphone_source.h"
#include "woblog/woblog.h"

namespace velmedia_internal {

bool sdl_speaker::start(audio_pull_source source) {
  if (device_ != 0)
    return true;
  source_ = std::move(source);
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(record_rate);
  want.format = AUDIO_S16SYS;
  want.channels = static_cast<Uint8>(record_channels);
  want.samples = 512;  // about 10 ms: the device buffer the playout latency sits on
  want.callback = &sdl_speaker::on_audio;
  want.userdata = this;
  SDL_AudioSpec have{};
  {
    std::lock_guard<std::mutex> lock(sdl_device_mutex());
    // SDL converts to whatever the device plays; the source always gives one format.
    device_ = SDL_OpenAudioDevice(device_name_.empty() ? nullptr : device_name_.c_str(), 0, &want,
                                  &have, 0);
  }
  if (device_ == 0) {
    qn::log("velmedia: speaker %s does not open: %s",
            device_name_.empty() ? "(default)" : device_name_.c_str(), SDL_GetError());
    source_ = nullptr;
    return false;
  }
  SDL_PauseAudioDevice(device_, 0);
  return true;
}

void sdl_speaker::stop() {
  if (device_ == 0)
    return;
  {
    // SDL_CloseAudioDevice joins the device thread: no callback runs after it.
    std::lock_guard<std::mutex> lock(sdl_device_mutex());
    SDL_CloseAudioDevice(device_);
  }
  device_ = 0;
  source_ = nullptr;
}

void sdl_speaker::on_audio(void* self, uint8_t* stream, int length) {
  if (length <= 0)
    return;
  auto* speaker = static_cast<sdl_speaker*>(self);
  const unsigned frames = static_cast<unsigned>(length) / (sizeof(int16_t) * record_channels);
  auto* samples = reinterpret_cast<int16_t*>(stream);
  unsigned written = speaker->source_ ? speaker->source_(samples, frames) : 0;
  if (written > frames)
    written = frames;
  std::memset(samples + static_cast<size_t>(written) * record_channels, 0,
              static_cast<size_t>(frames - written) * record_channels * sizeof(int16_t));
}

}  // namespace velmedia_internal

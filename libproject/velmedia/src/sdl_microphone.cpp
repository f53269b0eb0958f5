#include "sdl_microphone.h"

#include <cstring>
#include <mutex>

#include <SDL.h>

#include "media_runtime.h"
#include "woblog/woblog.h"

namespace velmedia_internal {

bool sdl_microphone::start(audio_block_sink sink) {
  if (device_ != 0)
    return true;
  sink_ = std::move(sink);
  pending_.assign(record_block_frames * record_channels, 0);
  pending_samples_ = 0;

  SDL_AudioSpec want{};
  want.freq = static_cast<int>(record_rate);
  want.format = AUDIO_S16SYS;
  want.channels = static_cast<Uint8>(record_channels);
  want.samples = 512;  // about 10 ms; a power of two suits every driver
  want.callback = &sdl_microphone::on_audio;
  want.userdata = this;
  SDL_AudioSpec have{};
  {
    std::lock_guard<std::mutex> lock(sdl_device_mutex());
    // No format changes allowed: SDL converts whatever the device records into the one block
    // format every consumer expects.
    device_ = SDL_OpenAudioDevice(device_name_.c_str(), 1, &want, &have, 0);
  }
  if (device_ == 0) {
    qn::log("velmedia: microphone %s does not open: %s", device_name_.c_str(), SDL_GetError());
    return false;
  }
  SDL_PauseAudioDevice(device_, 0);
  return true;
}

void sdl_microphone::stop() {
  if (device_ == 0)
    return;
  {
    // SDL_CloseAudioDevice joins the device thread: no callback runs after it.
    std::lock_guard<std::mutex> lock(sdl_device_mutex());
    SDL_CloseAudioDevice(device_);
  }
  device_ = 0;
  sink_ = nullptr;
}

void sdl_microphone::on_audio(void* self, uint8_t* stream, int length) {
  if (length <= 0)
    return;
  static_cast<sdl_microphone*>(self)->take(reinterpret_cast<const int16_t*>(stream),
                                           static_cast<unsigned>(length) / sizeof(int16_t));
}

void sdl_microphone::take(const int16_t* samples, unsigned count) {
  const size_t block = pending_.size();
  while (count > 0) {
    const size_t room = block - pending_samples_;
    const size_t n = count < room ? count : room;
    std::memcpy(pending_.data() + pending_samples_, samples, n * sizeof(int16_t));
    pending_samples_ += n;
    samples += n;
    count -= static_cast<unsigned>(n);
    if (pending_samples_ == block) {
      if (sink_)
        sink_(pending_.data(), record_block_frames);
      pending_samples_ = 0;
    }
  }
}

}  // namespace velmedia_internal

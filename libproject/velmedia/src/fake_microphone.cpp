#include "fake_microphone.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include <SDL.h>

#include "woblog/woblog.h"

namespace velmedia_internal {
namespace {

constexpr double pi = 3.14159265358979323846;

}  // namespace

bool fake_microphone::start(audio_block_sink sink) {
  if (thread_.joinable())
    return true;
  wav_.clear();
  wav_position_ = 0;
  phase_ = 0.0;
  if (!wav_path_.empty() && !load_wav())
    return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = false;
  }
  try {
    thread_ = std::thread(&fake_microphone::run, this, std::move(sink));
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void fake_microphone::stop() {
  if (!thread_.joinable())
    return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool fake_microphone::load_wav() {
  SDL_AudioSpec wav_format{};
  Uint8* buffer = nullptr;
  Uint32 length = 0;
  if (!SDL_LoadWAV(wav_path_.c_str(), &wav_format, &buffer, &length)) {
    qn::log("velmedia: synthetic microphone cannot read %s: %s", wav_path_.c_str(), SDL_GetError());
    return false;
  }
  SDL_AudioCVT cvt;
  if (SDL_BuildAudioCVT(&cvt, wav_format.format, wav_format.channels, wav_format.freq, AUDIO_S16SYS,
                        static_cast<Uint8>(record_channels), static_cast<int>(record_rate)) < 0) {
    qn::log("velmedia: synthetic microphone cannot convert %s: %s", wav_path_.c_str(),
            SDL_GetError());
    SDL_FreeWAV(buffer);
    return false;
  }
  std::vector<Uint8> work(static_cast<size_t>(length) * static_cast<size_t>(cvt.len_mult));
  if (length > 0)
    std::memcpy(work.data(), buffer, length);
  SDL_FreeWAV(buffer);
  cvt.buf = work.data();
  cvt.len = static_cast<int>(length);
  if (cvt.needed && SDL_ConvertAudio(&cvt) < 0) {
    qn::log("velmedia: synthetic microphone cannot convert %s", wav_path_.c_str());
    return false;
  }
  const size_t bytes = cvt.needed ? static_cast<size_t>(cvt.len_cvt) : length;
  // Whole sample frames only; an empty file plays silence.
  const size_t frames = bytes / (sizeof(int16_t) * record_channels);
  wav_.resize(frames * record_channels);
  if (!wav_.empty())
    std::memcpy(wav_.data(), work.data(), wav_.size() * sizeof(int16_t));
  return true;
}

void fake_microphone::fill_block(int16_t* block) {
  const size_t count = record_block_frames * record_channels;
  if (!wav_path_.empty()) {
    for (size_t i = 0; i < count; ++i) {
      if (wav_.empty()) {
        block[i] = 0;
        continue;
      }
      block[i] = wav_[wav_position_];
      wav_position_ = (wav_position_ + 1) % wav_.size();
    }
    return;
  }
  const double step = 2.0 * pi * 440.0 / record_rate;
  for (size_t frame = 0; frame < record_block_frames; ++frame) {
    const auto value = static_cast<int16_t>(std::lround(tone_amplitude * std::sin(phase_)));
    for (unsigned channel = 0; channel < record_channels; ++channel)
      block[frame * record_channels + channel] = value;
    phase_ += step;
    if (phase_ >= 2.0 * pi)
      phase_ -= 2.0 * pi;
  }
}

void fake_microphone::run(audio_block_sink sink) {
  using clock = std::chrono::steady_clock;
  const auto period = std::chrono::milliseconds(10);
  std::vector<int16_t> block(record_block_frames * record_channels);
  auto next = clock::now();
  for (;;) {
    fill_block(block.data());
    if (sink)
      sink(block.data(), record_block_frames);
    next += period;
    if (clock::now() - next > std::chrono::milliseconds(200))
      next = clock::now();  // after a stall, go on from now instead of bursting to catch up
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_until(lock, next, [this] { return stop_; }))
      break;
  }
}

}  // namespace velmedia_internal

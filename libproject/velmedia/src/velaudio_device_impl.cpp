// velaudio_device: SDL's audio device lists, plus the synthetic microphone, and recording
// from one microphone at a time.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <SDL.h>

#include "device_name.h"
#include "fake_microphone.h"
#include "media_runtime.h"
#include "sdl_microphone.h"
#include "sdl_speaker.h"
#include "velmedia/velaudio_device.h"
#include "woblog/woblog.h"

namespace velmedia_internal {
namespace {

class audio_device_impl : public velaudio_device {
public:
  explicit audio_device_impl(bool sdl) : sdl_(sdl) {}
  ~audio_device_impl() override {
    stop_source();
    stop_speaker();
    if (sdl_)
      sdl_audio_release();
  }

  int set_transport(velAudioTransport* transport) override {
    if (inside_transport()) {
      transport_ = transport;  // this thread already holds transport_mutex_
      return 0;
    }
    // Taken by every delivery, so once this returns the old transport is not called again.
    std::lock_guard<std::mutex> lock(transport_mutex_);
    transport_ = transport;
    return 0;
  }

  int get_speaker_count() override { return static_cast<int>(sdl_names(false).size()); }

  int get_microphone_count() override { return static_cast<int>(microphone_names().size()); }

  int get_speaker_name(int index, char* name) override {
    return copy_listed(sdl_names(false), index, name);
  }

  int get_microphone_name(int index, char* name) override {
    return copy_listed(microphone_names(), index, name);
  }

  int select_microphone(int index) override {
    if (index < 0 || index >= get_microphone_count())
      return -1;
    selected_ = index;  // used by the next start
    return 0;
  }

  int start_recording() override {
    if (inside_transport())
      return 0;  // recording, or the transport would not be running
    std::lock_guard<std::mutex> lock(mutex_);
    if (source_)
      return 0;
    const std::vector<std::string> real = sdl_names(true);
    const int count = static_cast<int>(real.size());
    const int selected = selected_;
    std::unique_ptr<microphone_source> source;
    if (selected < count)
      source = std::make_unique<sdl_microphone>(real[selected]);
    else if (selected == count && env_flag(fake_microphone_env))
      source = std::make_unique<fake_microphone>(env_text(fake_microphone_wav_env));
    if (!source) {
      qn::log("velmedia: no microphone %d to record from", selected);
      return -1;
    }
    if (!source->start(
            [this](const int16_t* samples, unsigned frames) { deliver(samples, frames); }))
      return -1;
    source_ = std::move(source);
    return 0;
  }

  int stop_recording() override {
    if (inside_transport()) {
      // Stopping joins the thread that is running this transport call.
      qn::log("velmedia: stop_recording refused inside the transport");
      return -1;
    }
    stop_source();
    return 0;
  }

  int select_speaker(int index) override {
    if (index < 0)
      return -1;
    speaker_index_ = index;
    return 0;
  }

  int start_playout() override {
    if (inside_transport())
      return 0;
    std::lock_guard<std::mutex> lock(speaker_mutex_);
    if (speaker_)
      return 0;
    if (!sdl_)
      return -1;
    const std::vector<std::string> names = sdl_names(false);
    const int index = speaker_index_;
    // Beyond the list: SDL's default output (also the only one some drivers offer).
    auto speaker = std::make_unique<sdl_speaker>(
        index < static_cast<int>(names.size()) ? names[index] : std::string());
    if (!speaker->start(
            [this](int16_t* samples, unsigned frames) { return pull(samples, frames); }))
      return -1;
    speaker_ = std::move(speaker);
    return 0;
  }

  int stop_playout() override {
    if (inside_transport()) {
      qn::log("velmedia: stop_playout refused inside the transport");
      return -1;
    }
    stop_speaker();
    return 0;
  }

private:
  bool inside_transport() const {
    const std::thread::id self = std::this_thread::get_id();
    return delivering_.load() == self || playing_.load() == self;
  }

  void stop_speaker() {
    std::lock_guard<std::mutex> lock(speaker_mutex_);
    if (speaker_) {
      speaker_->stop();
      speaker_.reset();
    }
  }

  unsigned pull(int16_t* samples, unsigned frames) {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    if (!transport_)
      return 0;
    playing_ = std::this_thread::get_id();
    unsigned written = 0;
    transport_->need_more_play_data(frames, sizeof(int16_t), record_channels, record_rate, samples,
                                    &written);
    playing_ = std::thread::id();
    return written;
  }

  void stop_source() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (source_) {
      source_->stop();
      source_.reset();
    }
  }

  void deliver(const int16_t* samples, unsigned frames) {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    if (!transport_)
      return;
    delivering_ = std::this_thread::get_id();
    transport_->recorded_data_available(samples, frames, sizeof(int16_t), record_channels,
                                        record_rate);
    delivering_ = std::thread::id();
  }

  std::vector<std::string> sdl_names(bool capture) const {
    std::vector<std::string> names;
    if (!sdl_)
      return names;
    std::lock_guard<std::mutex> lock(sdl_audio_mutex());
    const int iscapture = capture ? 1 : 0;
    const int count = SDL_GetNumAudioDevices(iscapture);
    for (int i = 0; i < count; ++i) {
      const char* name = SDL_GetAudioDeviceName(i, iscapture);
      names.emplace_back(name ? name : "");
    }
    return names;
  }

  std::vector<std::string> microphone_names() const {
    std::vector<std::string> names = sdl_names(true);
    if (env_flag(fake_microphone_env))
      names.emplace_back(fake_microphone_name);
    return names;
  }

  static int copy_listed(const std::vector<std::string>& names, int index, char* name) {
    if (!name || index < 0 || index >= static_cast<int>(names.size()))
      return -1;
    return copy_device_name(names[index], name, velmedia_name_size);
  }

  const bool sdl_;  // holds a reference on SDL audio

  std::atomic<int> selected_{0};
  std::mutex mutex_;  // the running source
  std::unique_ptr<microphone_source> source_;

  std::mutex transport_mutex_;
  velAudioTransport* transport_ = nullptr;
  std::atomic<std::thread::id> delivering_{};

  std::atomic<int> speaker_index_{0};
  std::mutex speaker_mutex_;  // the running speaker
  std::unique_ptr<sdl_speaker> speaker_;
  std::atomic<std::thread::id> playing_{};
};

}  // namespace
}  // namespace velmedia_internal

velaudio_device* velaudio_device::create() {
  using namespace velmedia_internal;
  const bool sdl = sdl_audio_acquire();
  // Without SDL there is still the synthetic microphone to offer.
  if (!sdl && !env_flag(fake_microphone_env))
    return nullptr;
  try {
    return new audio_device_impl(sdl);
  } catch (const std::exception&) {
    if (sdl)
      sdl_audio_release();
    return nullptr;
  }
}

// audio_test: meters the chosen microphone, one level per recorded block (about 10 ms).
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "probix/probix.h"
#include "probix_util.h"
#include "velmedia/velaudio_device.h"
#include "woblog/woblog.h"

namespace probix_internal {
namespace {

class audio_test_impl : public audio_test, private velAudioTransport {
public:
  // `device` may be null when the machine has no usable audio layer: then there is nothing to
  // list or start, but the lobby still gets an object.
  audio_test_impl(audio_test_callback callback, void* user, velaudio_device* device)
      : callback_(callback), user_(user), device_(device) {
    if (device_)
      device_->set_transport(this);
  }
  ~audio_test_impl() override {
    stop();
    if (device_)
      device_->set_transport(nullptr);
  }

  int get_device_count() override { return device_ ? device_->get_microphone_count() : 0; }

  int get_device_name(int index, char* name, int size) override {
    if (!device_ || !name || size < 1)
      return -1;
    char full[velmedia_name_size];
    if (device_->get_microphone_name(index, full) != 0)
      return -1;
    return copy_name(full, name, size);
  }

  int select_device(int index) override {
    if (!device_ || index < 0 || index >= device_->get_microphone_count())
      return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    selected_ = index;  // used by the next start
    return 0;
  }

  int start() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!device_)
      return -1;
    if (running_)
      return 0;
    if (device_->select_microphone(selected_) != 0 || device_->start_recording() != 0) {
      qn::log("probix: microphone %d does not open", selected_);
      return -1;
    }
    running_ = true;
    return 0;
  }

  int stop() override {
    // From inside the callback stopping would wait for itself (and for this lock).
    if (callback_thread_.load() == std::this_thread::get_id())
      return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_)
      return 0;
    if (device_->stop_recording() != 0)
      return -1;
    running_ = false;
    callback_thread_ = std::thread::id();
    return 0;
  }

private:
  int recorded_data_available(const void* samples, unsigned sample_count, unsigned bytes_per_sample,
                              unsigned channels, unsigned /*sample_rate*/) override {
    callback_thread_ = std::this_thread::get_id();
    if (!samples || bytes_per_sample != 2)
      return 0;
    callback_(user_, mean_abs_level(static_cast<const int16_t*>(samples),
                                    static_cast<size_t>(sample_count) * channels));
    return 0;
  }

  int need_more_play_data(unsigned, unsigned, unsigned, unsigned, void*,
                          unsigned* samples_out) override {
    if (samples_out)
      *samples_out = 0;
    return 0;
  }

  const audio_test_callback callback_;
  void* const user_;
  const std::unique_ptr<velaudio_device> device_;

  std::atomic<std::thread::id> callback_thread_{};

  std::mutex mutex_;
  int selected_ = 0;
  bool running_ = false;
};

}  // namespace
}  // namespace probix_internal

audio_test* audio_test::create(audio_test_callback callback, void* user) {
  if (!callback)
    return nullptr;
  velaudio_device* device = velaudio_device::create();
  try {
    return new probix_internal::audio_test_impl(callback, user, device);
  } catch (const std::exception&) {
    delete device;
    return nullptr;
  }
}

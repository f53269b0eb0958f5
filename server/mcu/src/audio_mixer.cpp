// The Opus mixer: an audio_mix_engine driven by its own 20 ms clock.
#include "audio_mixer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "audio_mix_engine.h"

namespace mcu {
namespace {

class clocked_mixer : public audio_mixer {
public:
  clocked_mixer() : thread_([this] { run(); }) {}
  ~clocked_mixer() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void add_publisher(uint32_t room, uint32_t user) override { engine_.add_publisher(room, user); }
  void remove_publisher(uint32_t room, uint32_t user) override {
    engine_.remove_publisher(room, user);
  }
  void publisher_datagram(uint32_t room, uint32_t user, const uint8_t* data,
                          std::size_t length) override {
    engine_.publisher_datagram(room, user, data, length);
  }
  void add_listener(uint32_t room, uint32_t listener, datagram_sink sink) override {
    engine_.add_listener(room, listener, std::move(sink));
  }
  void remove_listener(uint32_t room, uint32_t listener) override {
    engine_.remove_listener(room, listener);
  }

private:
  void run() {
    using clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(20);
    auto next = clock::now() + period;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_until(lock, next, [this] { return stop_; })) {
      lock.unlock();
      engine_.tick();
      lock.lock();
      next += period;
      // After a stall, go on from now rather than bursting to catch up.
      if (clock::now() - next > std::chrono::milliseconds(200))
        next = clock::now() + period;
    }
  }

  audio_mix_engine engine_;  // before the thread that uses it
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<audio_mixer> make_audio_mixer() {
  return std::make_unique<clocked_mixer>();
}

}  // namespace mcu

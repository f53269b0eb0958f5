// velcapture: opens one camera at a time and delivers its pictures from a capture thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "camera_input.h"
#include "camera_list.h"
#include "device_name.h"
#include "media_runtime.h"
#include "velmedia/velcapture.h"
#include "woblog/woblog.h"

namespace velmedia_internal {
namespace {

class capture_impl : public velcapture {
public:
  capture_impl() { cameras_ = list_cameras(); }
  ~capture_impl() override { close(); }

  int get_device_count() override {
    std::lock_guard<std::mutex> lock(mutex_);
    // Rescanned here so that a camera plugged in later appears; names and open use this list.
    cameras_ = list_cameras();
    return static_cast<int>(cameras_.size());
  }

  int get_device_name(int index, char* name) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!name || index < 0 || index >= static_cast<int>(cameras_.size()))
      return -1;
    return copy_device_name(cameras_[index].name, name, velmedia_name_size);
  }

  int open(int index, int* width, int* height, int* fps, velcapture_data_callback* sink) override {
    if (!width || !height || !fps || !sink || inside_sink())
      return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) {
      qn::log("velmedia: camera open refused, one is already open");
      return -1;
    }
    if (index < 0 || index >= static_cast<int>(cameras_.size()))
      return -1;
    auto input = std::make_unique<camera_input>();
    int w = *width, h = *height, f = *fps;
    if (!input->open(cameras_[index], &w, &h, &f))
      return -1;
    *width = w;
    *height = h;
    *fps = f;
    {
      std::lock_guard<std::mutex> stop_lock(stop_mutex_);
      stop_ = false;
    }
    try {
      thread_ = std::thread(&capture_impl::run, this, std::move(input), sink, w, h, f);
    } catch (const std::exception&) {
      qn::log("velmedia: no capture thread");
      return -1;
    }
    return 0;
  }

  int close() override {
    if (inside_sink()) {
      // Joining from the sink would wait for itself.
      qn::log("velmedia: camera close refused inside the frame callback");
      return -1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable())
      return 0;
    {
      std::lock_guard<std::mutex> stop_lock(stop_mutex_);
      stop_ = true;
    }
    stop_cv_.notify_all();
    thread_.join();
    capture_thread_ = std::thread::id();
    return 0;
  }

private:
  bool inside_sink() const { return capture_thread_.load() == std::this_thread::get_id(); }

  // Waits until `deadline` or close(); true when close() asked to stop.
  bool wait_stop(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(stop_mutex_);
    return stop_cv_.wait_until(lock, deadline, [this] { return stop_; });
  }

  void run(std::unique_ptr<camera_input> input, velcapture_data_callback* sink, int width,
           int height, int fps) {
    capture_thread_ = std::this_thread::get_id();
    using clock = std::chrono::steady_clock;
    // A live camera is polled while it has nothing; the synthetic one would deliver as fast
    // as it is read, so it is paced to its frame rate.
    const auto poll = std::chrono::milliseconds(5);
    const auto period = std::chrono::microseconds(1000000 / fps);
    auto next = clock::now();
    std::vector<uint8_t> picture;
    for (;;) {
      if (input->synthetic()) {
        if (wait_stop(next))
          break;
        next += period;
        if (clock::now() - next > std::chrono::seconds(1))
          next = clock::now();  // after a stall, go on from now instead of catching up
      } else if (wait_stop(clock::now())) {
        break;
      }
      const camera_input::result got = input->read(&picture);
      if (got == camera_input::result::picture) {
        sink->on_capture_data(picture.data(), static_cast<unsigned>(picture.size()), width, height);
      } else if (got == camera_input::result::again) {
        if (!input->synthetic() && wait_stop(clock::now() + poll))
          break;
      } else {
        qn::log("velmedia: camera stopped delivering");
        break;  // the owner notices the missing pictures; close() still joins
      }
    }
  }

  std::mutex mutex_;  // the camera list and the open/close state
  std::vector<camera_info> cameras_;
  std::thread thread_;
  std::atomic<std::thread::id> capture_thread_{};

  std::mutex stop_mutex_;
  std::condition_variable stop_cv_;
  bool stop_ = false;
};

}  // namespace
}  // namespace velmedia_internal

velcapture* velcapture::create() {
  try {
    return new velmedia_internal::capture_impl();
  } catch (const std::exception&) {
    return nullptr;
  }
}

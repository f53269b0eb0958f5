// Helpers of the video path tests: a recording sendmsg2ui / sendmsg2mcu, a UDP socket on
// loopback standing in for the MCU's media port, and scripted devices.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "eventually.h"
#include "frame_buffer.h"
#include "sendmsg2mcu.h"
#include "sendmsg2ui.h"
#include "velmedia/velcapture.h"
#include "velmedia/velscreen.h"

namespace video_test {

using bytes = std::vector<uint8_t>;
inline const std::chrono::milliseconds wait_limit = testsupport::wait_limit();

// Records what the media threads tell the observer.
class recording_ui : public sendmsg2ui {
public:
  struct frame_info {
    int width, height;
    uint32_t user;
    int kind;
    bytes pixels;
  };

  void media_event(int event, void*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    changed_.notify_all();
  }
  void deliver_frame(int width, int height, uint8_t* pixels, uint32_t user, int kind) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t size =
        static_cast<std::size_t>(width) * height * (format_ == pavo_frame_rgb32 ? 4 : 3);
    frames_.push_back(
        {width, height, user, kind, keep_pixels_ ? bytes(pixels, pixels + size) : bytes()});
    pavo::frame_free(pixels);
    changed_.notify_all();
  }
  void net_state(uint32_t user, int state) override {
    std::lock_guard<std::mutex> lock(mutex_);
    net_states_.emplace_back(user, state);
    changed_.notify_all();
  }

  int frame_format() override { return format_; }

  void keep_pixels(bool keep) {
    std::lock_guard<std::mutex> lock(mutex_);
    keep_pixels_ = keep;
  }
  void set_frame_format(int format) { format_ = format; }
  // Waits until `ready` holds (checked under the lock); false after the limit.
  bool wait(const std::function<bool()>& ready) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, wait_limit, ready);
  }
  std::size_t frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
  }
  bool wait_frames(std::size_t n) {
    return wait([&] { return frames_.size() >= n; });
  }
  std::vector<frame_info> take_frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<frame_info> out(frames_.begin(), frames_.end());
    frames_.clear();
    return out;
  }
  std::size_t count_events(int event) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    for (int e : events_)
      n += e == event;
    return n;
  }
  bool wait_event(int event) {
    return wait([&] {
      for (int e : events_)
        if (e == event)
          return true;
      return false;
    });
  }
  std::vector<std::pair<uint32_t, int>> net_states() {
    std::lock_guard<std::mutex> lock(mutex_);
    return net_states_;
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> events_;
  std::deque<frame_info> frames_;
  std::vector<std::pair<uint32_t, int>> net_states_;
  bool keep_pixels_ = false;
  std::atomic<int> format_{pavo_frame_rgb24};
};

// Records the control messages a part sends to the MCU.
class recording_mcu : public sendmsg2mcu {
public:
  struct message {
    uint32_t type;
    bytes payload;
  };
  int send_msg(uint32_t type, const void* payload, unsigned length) override {
    const auto* p = static_cast<const uint8_t*>(payload);
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back({type, p ? bytes(p, p + length) : bytes()});
    changed_.notify_all();
    return 0;
  }
  std::optional<message> next(std::chrono::milliseconds limit = wait_limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, limit, [this] { return !messages_.empty(); }))
      return std::nullopt;
    message m = std::move(messages_.front());
    messages_.pop_front();
    return m;
  }
  std::size_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<message> messages_;
};

// A UDP socket on loopback: the MCU's media port as a sender or receiver sees it.
class media_port {
public:
  media_port();
  ~media_port();
  uint16_t port() const { return port_; }
  // The next datagram; empty after `limit`.
  std::optional<bytes> next(std::chrono::milliseconds limit = wait_limit);
  // Sends to where the last datagram came from.
  void reply(const bytes& data);
  // Drops what has arrived so far.
  std::size_t drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(100));

private:
  int fd_ = -1;
  uint16_t port_ = 0;
  bool have_peer_ = false;
  uint8_t peer_[16] = {};  // sockaddr_in
};

// A camera that opens and then delivers exactly what the test pushes.
class scripted_camera : public velcapture {
public:
  struct state {
    std::mutex mutex;
    velcapture_data_callback* sink = nullptr;
    int width = 0, height = 0;
    bool open = false;
    int opens = 0;
  };
  explicit scripted_camera(std::shared_ptr<state> s) : state_(std::move(s)) {}
  ~scripted_camera() override { close(); }
  int get_device_count() override { return 1; }
  int get_device_name(int, char* name) override {
    name[0] = 0;
    return 0;
  }
  int open(int, int* width, int* height, int* fps, velcapture_data_callback* sink) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->sink = sink;
    state_->width = *width;
    state_->height = *height;
    *fps = *fps > 0 ? *fps : 15;
    state_->open = true;
    ++state_->opens;
    return 0;
  }
  int close() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->open = false;
    state_->sink = nullptr;
    return 0;
  }

private:
  std::shared_ptr<state> state_;
};

// Delivers one flat picture (grey unless chroma is given) through an open scripted camera, as
// its capture thread would.
inline bool push_picture(scripted_camera::state& s, uint8_t luma, uint8_t u = 128,
                         uint8_t v = 128) {
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.open || !s.sink)
    return false;
  bytes picture(velmedia_i420_size(s.width, s.height), u);
  std::fill(picture.begin(), picture.begin() + s.width * s.height, luma);
  const int chroma = ((s.width + 1) / 2) * ((s.height + 1) / 2);
  std::fill(picture.begin() + s.width * s.height + chroma, picture.end(), v);
  s.sink->on_capture_data(picture.data(), static_cast<unsigned>(picture.size()), s.width, s.height);
  return true;
}

// A grabber whose grabs fail a given number of times first.
class scripted_grabber : public velscreen {
public:
  struct state {
    std::mutex mutex;
    int failures_left = 0;
    int grabs = 0;
  };
  explicit scripted_grabber(std::shared_ptr<state> s) : state_(std::move(s)) {}
  int grab(uint8_t* i420, unsigned capacity) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ++state_->grabs;
    if (state_->failures_left > 0) {
      --state_->failures_left;
      return -1;
    }
    std::fill(i420, i420 + capacity, uint8_t{100});
    return 0;
  }

private:
  std::shared_ptr<state> state_;
};

}  // namespace video_test

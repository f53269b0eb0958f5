// Captured I420 pictures waiting for a sender's encoding thread, with their capture time.
// The encoder takes them in order; when it falls behind, the oldest waiting ones are dropped
// beyond the capacity, so a slow machine sends fewer pictures rather than ever later ones
// (and does not pile them up in memory).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace pavo {

struct queued_frame {
  std::vector<uint8_t> i420;
  uint32_t capture_ms = 0;
};

class frame_queue {
public:
  enum class wait_result { frame, timeout, stopped };

  explicit frame_queue(std::size_t capacity = 3) : capacity_(capacity > 0 ? capacity : 1) {}

  void push(const uint8_t* i420, unsigned length, uint32_t capture_ms) {
    queued_frame frame;
    frame.i420.assign(i420, i420 + length);
    frame.capture_ms = capture_ms;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      while (frames_.size() >= capacity_) {
        frames_.pop_front();
        ++dropped_;
      }
      frames_.push_back(std::move(frame));
    }
    changed_.notify_one();
  }

  // The oldest frame; waits up to `timeout_ms` (negative: without limit) until there is one or
  // stop() is called.
  wait_result pop(queued_frame* out, int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return stopped_ || !frames_.empty(); };
    if (timeout_ms < 0)
      changed_.wait(lock, ready);
    else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready))
      return wait_result::timeout;
    if (stopped_)
      return wait_result::stopped;
    *out = std::move(frames_.front());
    frames_.pop_front();
    return wait_result::frame;
  }

  // Wakes the waiter for good and drops what is queued.
  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
      frames_.clear();
    }
    changed_.notify_all();
  }

  // Accepts frames again after stop().
  void restart() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = false;
  }

  std::size_t size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
  }
  // Pictures dropped so far because the encoder was behind.
  uint64_t dropped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
  }

private:
  const std::size_t capacity_;
  uint64_t dropped_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<queued_frame> frames_;
  bool stopped_ = false;
};

}  // namespace pavo

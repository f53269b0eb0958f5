// The version of the room removals the message server and the MCU follow: it
// changes with every removal and early lift, and a question about it may wait
// here until it changes (see tavsrv/Removals.h).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>

namespace tavsvc {

class RemovalFeed {
public:
  // A new epoch per start, so a follower never takes a restarted service's
  // version for the one it holds.
  RemovalFeed()
      : epoch_(std::to_string(std::random_device()()) + "." +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())) {}

  std::string version() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current();
  }
  // After a removal or a lift has been committed.
  void changed() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++counter_;
    }
    wake_.notify_all();
  }
  // Waits until the version is no longer `known`, at most waitMs or until shutdown.
  void waitWhile(const std::string& known, int64_t waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(waitMs),
                   [&] { return stopping_ || current() != known; });
  }
  // Lets every waiting question answer at once (the service is stopping).
  void shutdown() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
  }

private:
  std::string current() const { return epoch_ + "-" + std::to_string(counter_); }

  const std::string epoch_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  uint64_t counter_ = 0;
  bool stopping_ = false;
};

}  // namespace tavsvc

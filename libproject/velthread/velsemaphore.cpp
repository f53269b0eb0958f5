#include <chrono>
#include <limits>
#include <system_error>

#include "velthread/velthread.h"

// The standard primitives report system failures as exceptions; this library reports them as
// negative results instead, so nothing is thrown across its boundary.

int velsemaphore::post() {
  try {
    // Notified under the lock: a waiter that wakes may destroy the semaphore at once (a
    // "done" signal), so post must not touch it after the mutex is released.
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ == std::numeric_limits<unsigned>::max())
      return -1;
    ++count_;
    cond_.notify_one();
    return 0;
  } catch (const std::system_error&) {
    return -2;
  }
}

int velsemaphore::wait() {
  try {
    std::unique_lock<std::mutex> lock(mutex_);
    cond_.wait(lock, [this] { return count_ > 0; });
    --count_;
    return 0;
  } catch (const std::system_error&) {
    return -2;
  }
}

int velsemaphore::wait(unsigned ms) {
  try {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cond_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return count_ > 0; }))
      return 1;
    --count_;
    return 0;
  } catch (const std::system_error&) {
    return -2;
  }
}

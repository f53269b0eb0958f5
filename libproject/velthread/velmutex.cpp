#include "velthread/velthread.h"

// std::mutex only throws on misuse the library cannot recover from; noexcept turns that into
// an immediate stop instead of an exception crossing the interface.

void velmutex::lock() noexcept {
  mutex_.lock();
}

void velmutex::unlock() noexcept {
  mutex_.unlock();
}

bool velmutex::try_lock() noexcept {
  return mutex_.try_lock();
}

#include "ReportBudget.h"

namespace tavsvc {

bool ReportBudget::take(uint32_t userId, int64_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (windows_.size() > 100000) {
    for (auto it = windows_.begin(); it != windows_.end();)
      it = nowMs - it->second.startMs >= kWindowMs ? windows_.erase(it) : std::next(it);
  }
  Window& window = windows_[userId];
  if (window.used == 0 || nowMs - window.startMs >= kWindowMs) {
    window.startMs = nowMs;
    window.used = 0;
  }
  if (window.used >= kPerWindow)
    return false;
  ++window.used;
  return true;
}

}  // namespace tavsvc

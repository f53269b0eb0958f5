// How many usage reports one user may file: kPerWindow within kWindowMs, counted
// in memory (a restart forgives). Keeps one client from filling the store.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace tavsvc {

class ReportBudget {
public:
  static constexpr int kPerWindow = 1200;
  static constexpr int64_t kWindowMs = 60 * 60 * 1000;

  // True, and counted, while the user has reports left in its current window.
  bool take(uint32_t userId, int64_t nowMs);

private:
  struct Window {
    int64_t startMs = 0;
    int used = 0;
  };
  std::mutex mutex_;
  std::unordered_map<uint32_t, Window> windows_;
};

}  // namespace tavsvc

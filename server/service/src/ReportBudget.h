// How many usage reports one user may file: kPerWindow within kWindowMs,
// counted in the store (every node's reports count together). Keeps one client
// from filling the store.
#pragma once

#include <cstdint>

#include "tavsrv/Database.h"

namespace tavsvc {

class ReportBudget {
public:
  static constexpr int kPerWindow = 1200;
  static constexpr int64_t kWindowMs = 60 * 60 * 1000;

  // True, and counted, while the user has reports left in its current window.
  bool take(tavsrv::Connection& db, uint32_t userId, int64_t nowMs);
};

}  // namespace tavsvc

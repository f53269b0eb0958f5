// Who is in which room right now. A member counts as present from room entry
// until 90 s pass without a heartbeat. Kept in the store, so every service node
// sharing it answers alike (a member enters through one node and reports
// through another); each report is one small write.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "tavsrv/Database.h"

namespace tavsvc {

class Presence {
public:
  static constexpr int64_t kTimeoutMs = 90 * 1000;

  void enter(tavsrv::Connection& db, uint32_t roomId, uint32_t userId, int64_t nowMs);
  // Refreshes a member still counted present; false when the member is not (or no longer).
  bool heartbeat(tavsrv::Connection& db, uint32_t roomId, uint32_t userId, int64_t nowMs,
                 bool teaching);
  void leave(tavsrv::Connection& db, uint32_t roomId, uint32_t userId);
  // Present members in order of entry.
  std::vector<uint32_t> present(tavsrv::Connection& db, uint32_t roomId, int64_t nowMs);
  // The member whose teaching heartbeat is the newest and still fresh, 0 if none.
  uint32_t teacherOnDuty(tavsrv::Connection& db, uint32_t roomId, int64_t nowMs);

private:
  std::atomic<int64_t> lastPruneMs_{0};
};

}  // namespace tavsvc

// Who is in which room right now. A member counts as present from room entry
// until 90 s pass without a heartbeat. Kept in memory on purpose: presence is
// refreshed every 30 s by every member, durable storage would buy nothing, and
// after a restart each member's next heartbeat is answered -1, which makes the
// client enter the room again (with every entry check re-run).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace tavsvc {

class Presence {
public:
  static constexpr int64_t kTimeoutMs = 90 * 1000;

  void enter(uint32_t roomId, uint32_t userId, int64_t nowMs);
  // Refreshes a member still counted present; false when the member is not (or no longer).
  bool heartbeat(uint32_t roomId, uint32_t userId, int64_t nowMs, bool teaching);
  void leave(uint32_t roomId, uint32_t userId);
  bool isPresent(uint32_t roomId, uint32_t userId, int64_t nowMs) const;
  // Present members in order of entry.
  std::vector<uint32_t> present(uint32_t roomId, int64_t nowMs) const;
  // The member whose teaching heartbeat is the newest and still fresh, 0 if none.
  uint32_t teacherOnDuty(uint32_t roomId, int64_t nowMs) const;

private:
  struct Entry {
    int64_t enteredMs = 0;
    int64_t lastSeenMs = 0;
    int64_t lastTeachingMs = -1;
  };
  void prune(int64_t nowMs);

  mutable std::mutex mutex_;
  std::map<std::pair<uint32_t, uint32_t>, Entry> entries_;
  int64_t lastPruneMs_ = 0;
};

}  // namespace tavsvc

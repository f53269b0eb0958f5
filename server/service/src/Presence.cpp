#include "Presence.h"

#include <algorithm>

namespace tavsvc {

void Presence::enter(uint32_t roomId, uint32_t userId, int64_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  prune(nowMs);
  Entry& entry = entries_[{roomId, userId}];
  if (entry.lastSeenMs == 0 || nowMs - entry.lastSeenMs > kTimeoutMs)
    entry.enteredMs = nowMs;
  entry.lastSeenMs = nowMs;
}

bool Presence::heartbeat(uint32_t roomId, uint32_t userId, int64_t nowMs, bool teaching) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = entries_.find({roomId, userId});
  if (found == entries_.end())
    return false;
  if (nowMs - found->second.lastSeenMs > kTimeoutMs) {
    entries_.erase(found);
    return false;
  }
  found->second.lastSeenMs = nowMs;
  if (teaching)
    found->second.lastTeachingMs = nowMs;
  return true;
}

void Presence::leave(uint32_t roomId, uint32_t userId) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.erase({roomId, userId});
}

bool Presence::isPresent(uint32_t roomId, uint32_t userId, int64_t nowMs) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = entries_.find({roomId, userId});
  return found != entries_.end() && nowMs - found->second.lastSeenMs <= kTimeoutMs;
}

std::vector<uint32_t> Presence::present(uint32_t roomId, int64_t nowMs) const {
  std::vector<std::pair<int64_t, uint32_t>> found;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.lower_bound({roomId, 0});
         it != entries_.end() && it->first.first == roomId; ++it) {
      if (nowMs - it->second.lastSeenMs <= kTimeoutMs)
        found.emplace_back(it->second.enteredMs, it->first.second);
    }
  }
  std::stable_sort(found.begin(), found.end());
  std::vector<uint32_t> users;
  for (const auto& item : found)
    users.push_back(item.second);
  return users;
}

uint32_t Presence::teacherOnDuty(uint32_t roomId, int64_t nowMs) const {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t best = 0;
  int64_t bestMs = -1;
  for (auto it = entries_.lower_bound({roomId, 0});
       it != entries_.end() && it->first.first == roomId; ++it) {
    const Entry& e = it->second;
    if (e.lastTeachingMs >= 0 && nowMs - e.lastTeachingMs <= kTimeoutMs &&
        e.lastTeachingMs > bestMs) {
      best = it->first.second;
      bestMs = e.lastTeachingMs;
    }
  }
  return best;
}

void Presence::prune(int64_t nowMs) {
  // Called with the lock held; at most once a minute.
  if (nowMs - lastPruneMs_ < 60 * 1000)
    return;
  lastPruneMs_ = nowMs;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (nowMs - it->second.lastSeenMs > kTimeoutMs)
      it = entries_.erase(it);
    else
      ++it;
  }
}

}  // namespace tavsvc

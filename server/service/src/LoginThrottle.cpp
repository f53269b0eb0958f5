#include "LoginThrottle.h"

#include <algorithm>
#include <cctype>

namespace tavsvc {

namespace {
std::string key(const std::string& address, const std::string& account) {
  std::string lower = account;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return address + "|" + lower;
}
}  // namespace

bool LoginThrottle::blocked(const std::string& address, const std::string& account, int64_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = records_.find(key(address, account));
  if (found == records_.end())
    return false;
  if (nowMs - found->second.firstMs > kWindowMs) {
    records_.erase(found);
    return false;
  }
  return found->second.failures >= kMaxFailures;
}

void LoginThrottle::failed(const std::string& address, const std::string& account, int64_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Bounded: forget stale records before the map could grow without end.
  if (records_.size() > 100000) {
    for (auto it = records_.begin(); it != records_.end();)
      it = nowMs - it->second.firstMs > kWindowMs ? records_.erase(it) : std::next(it);
    if (records_.size() > 100000)
      records_.clear();
  }
  Record& record = records_[key(address, account)];
  if (record.failures == 0 || nowMs - record.firstMs > kWindowMs) {
    record.failures = 0;
    record.firstMs = nowMs;
  }
  ++record.failures;
}

void LoginThrottle::succeeded(const std::string& address, const std::string& account) {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.erase(key(address, account));
}

}  // namespace tavsvc

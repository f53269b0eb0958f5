#include "LoginThrottle.h"

#include <algorithm>
#include <cctype>

namespace tavsvc {

std::string LoginThrottle::key(const std::string& address, const std::string& account) const {
  std::string lower = account;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return kind_ + "|" + address + "|" + lower;
}

bool LoginThrottle::blocked(tavsrv::Connection& db, const std::string& address,
                            const std::string& account, int64_t nowMs) {
  return db
      .queryInt("SELECT 1 FROM throttles WHERE key = ?1 AND first_ms >= ?2 AND failures >= ?3",
                key(address, account), nowMs - kWindowMs, kMaxFailures)
      .has_value();
}

void LoginThrottle::failed(tavsrv::Connection& db, const std::string& address,
                           const std::string& account, int64_t nowMs) {
  // Bounded: records whose window has passed go, at most once a minute.
  int64_t last = lastPruneMs_.load();
  if (nowMs - last >= 60 * 1000 && lastPruneMs_.compare_exchange_strong(last, nowMs))
    db.run("DELETE FROM throttles WHERE first_ms < ?1", nowMs - kWindowMs);
  // One statement, so failures counted on two nodes at once both count.
  db.run(
      "INSERT INTO throttles(key, failures, first_ms) VALUES(?1, 1, ?2) "
      "ON CONFLICT(key) DO UPDATE SET "
      "failures = CASE WHEN throttles.first_ms < ?3 THEN 1 ELSE throttles.failures + 1 END, "
      "first_ms = CASE WHEN throttles.first_ms < ?3 THEN ?2 ELSE throttles.first_ms END",
      key(address, account), nowMs, nowMs - kWindowMs);
}

void LoginThrottle::succeeded(tavsrv::Connection& db, const std::string& address,
                              const std::string& account) {
  db.run("DELETE FROM throttles WHERE key = ?1", key(address, account));
}

}  // namespace tavsvc

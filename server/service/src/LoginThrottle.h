// Slows down password guessing: after 5 failed logins of one account (by any of
// its names: the caller passes one key per account) from
// one address within 5 minutes, further attempts are refused until the window
// has passed. Keyed by address too, so nobody can lock an account out for everyone.
// Counted in the store, so guesses spread over several service nodes count together.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "tavsrv/Database.h"

namespace tavsvc {

class LoginThrottle {
public:
  static constexpr int kMaxFailures = 5;
  static constexpr int64_t kWindowMs = 5 * 60 * 1000;

  // kind tells this throttle's keys from another's in the store ("login", "code").
  explicit LoginThrottle(std::string kind) : kind_(std::move(kind)) {}

  bool blocked(tavsrv::Connection& db, const std::string& address, const std::string& account,
               int64_t nowMs);
  void failed(tavsrv::Connection& db, const std::string& address, const std::string& account,
              int64_t nowMs);
  void succeeded(tavsrv::Connection& db, const std::string& address, const std::string& account);

private:
  std::string key(const std::string& address, const std::string& account) const;

  const std::string kind_;
  std::atomic<int64_t> lastPruneMs_{0};
};

}  // namespace tavsvc

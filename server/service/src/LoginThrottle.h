// Slows down password guessing: after 5 failed logins of one account (by any of
// its names: the caller passes one key per account) from
// one address within 5 minutes, further attempts are refused until the window
// has passed. Keyed by address too, so nobody can lock an account out for everyone.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace tavsvc {

class LoginThrottle {
public:
  static constexpr int kMaxFailures = 5;
  static constexpr int64_t kWindowMs = 5 * 60 * 1000;

  bool blocked(const std::string& address, const std::string& account, int64_t nowMs);
  void failed(const std::string& address, const std::string& account, int64_t nowMs);
  void succeeded(const std::string& address, const std::string& account);

private:
  struct Record {
    int failures = 0;
    int64_t firstMs = 0;
  };
  std::mutex mutex_;
  std::map<std::string, Record> records_;
};

}  // namespace tavsvc

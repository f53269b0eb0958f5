// Wall-clock time in milliseconds since the epoch, behind an interface so tests
// can move time forward (bans, presence, key expiry) without sleeping.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace tavsrv {

class Clock {
public:
  virtual ~Clock() = default;
  virtual int64_t nowMs() const = 0;
};

class SystemClock : public Clock {
public:
  int64_t nowMs() const override;
};

class ManualClock : public Clock {
public:
  explicit ManualClock(int64_t startMs) : now_(startMs) {}
  int64_t nowMs() const override { return now_.load(); }
  void set(int64_t ms) { now_.store(ms); }
  void advance(int64_t ms) { now_.fetch_add(ms); }

private:
  std::atomic<int64_t> now_;
};

// Local time of ms as "yyyy-MM-dd hh:mm:ss" (strftime "%Y-%m-%d %H:%M:%S") or
// any other strftime format.
std::string formatLocalTime(int64_t ms, const char* strftimeFormat = "%Y-%m-%d %H:%M:%S");

}  // namespace tavsrv

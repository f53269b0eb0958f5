#include "tavsrv/Clock.h"

#include <chrono>
#include <ctime>

namespace tavsrv {

int64_t SystemClock::nowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string formatLocalTime(int64_t ms, const char* strftimeFormat) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm parts{};
  localtime_r(&seconds, &parts);
  char buffer[64];
  const size_t n = std::strftime(buffer, sizeof buffer, strftimeFormat, &parts);
  return std::string(buffer, n);
}

}  // namespace tavsrv

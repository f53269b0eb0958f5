// Waiting in tests for something another thread or process makes happen.
//
// A test waits for the event it depends on, never for a guessed delay. The
// limit only bounds a failure: it is generous (a busy machine with both cores
// loaded is many times slower than an idle one) and can be raised for a slow
// machine with TAV_TEST_WAIT_SCALE (a factor, default 1).
#pragma once

#include <chrono>
#include <cstdlib>
#include <thread>

namespace testsupport {

// The default limit of eventually(), scaled by TAV_TEST_WAIT_SCALE.
inline std::chrono::milliseconds wait_limit(std::chrono::milliseconds base = std::chrono::seconds(60)) {
  double scale = 1.0;
  if (const char* text = std::getenv("TAV_TEST_WAIT_SCALE")) {
    const double parsed = std::atof(text);
    if (parsed > 0)
      scale = parsed;
  }
  return std::chrono::milliseconds(static_cast<long long>(base.count() * scale));
}

// Polls condition() every few milliseconds until it holds (true) or the limit
// passes (false, after one last look).
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = wait_limit()) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return static_cast<bool>(condition());
}

}  // namespace testsupport

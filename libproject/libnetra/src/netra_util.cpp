#include "netra_util.h"

#include <chrono>
#include <mutex>
#include <random>

namespace netra {

uint32_t steady_ms() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(ms.count());
}

bool parse_ipv4(const char* text, asio::ip::address_v4* out) {
  if (!text || !*text || !out)
    return false;
  asio::error_code ec;
  asio::ip::address_v4 addr = asio::ip::make_address_v4(text, ec);
  if (ec)
    return false;
  *out = addr;
  return true;
}

namespace {

std::mt19937 seeded_engine() {
  uint32_t a = 0, b = 0;
  try {
    std::random_device rd;
    a = rd();
    b = rd();
  } catch (...) {
    // No system random source: the clock still keeps two clients apart.
  }
  auto t = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  std::seed_seq seq{a, b, static_cast<uint32_t>(t), static_cast<uint32_t>(t >> 32)};
  return std::mt19937(seq);
}

}  // namespace

uint32_t random_conv() {
  static std::mutex mutex;
  static std::mt19937 engine = seeded_engine();
  std::lock_guard<std::mutex> lock(mutex);
  std::uniform_int_distribution<uint32_t> dist(1, 0xffffffffu);
  return dist(engine);
}

}  // namespace netra

// Private helpers shared by the socket parts of libnetra.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <cstdint>

namespace netra {

// Milliseconds of a monotonic clock, wrapping like a 32-bit tick count (KCP time).
uint32_t steady_ms();

// Dotted IPv4 text to an address; false for null, empty or anything else.
bool parse_ipv4(const char* text, asio::ip::address_v4* out);

// A fresh, non-zero conversation id from the system's random source.
uint32_t random_conv();

// Counts dropped input and says when a log line is due, so a flood of garbage cannot flood
// the log: the first few drops, then one in every 1000.
class drop_counter {
public:
  // Counts one drop; true when this one should be logged. *total receives the count.
  bool count(uint64_t* total) {
    uint64_t n = ++drops_;
    if (total)
      *total = n;
    return n <= 5 || n % 1000 == 0;
  }

private:
  std::atomic<uint64_t> drops_{0};
};

}  // namespace netra

// When a receiver registers at its MCU port (its user id and the session's media token,
// control_wire.h): every 100 ms until the first datagram comes, and again every 100 ms
// whenever nothing has come for half a second. The MCU sends a stream to the socket of the
// newest registration with the token; one without it (another program at the member's
// address) changes nothing, nor does one from the socket already served.
#pragma once

#include <chrono>

namespace pavo {

class media_registration {
public:
  using clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds period{100};
  static constexpr std::chrono::milliseconds silence{500};

  // A datagram came (receiver thread).
  void arrived() {
    arrived_ = true;
    last_ = clock::now();
  }
  // The receiver woke without data: whether to register now.
  bool due() const { return !arrived_ || clock::now() - last_ >= silence; }

private:
  bool arrived_ = false;
  clock::time_point last_;
};

}  // namespace pavo

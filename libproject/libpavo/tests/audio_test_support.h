// Helpers for the audio path tests: a plain UDP socket on loopback standing in for the MCU's
// audio port, and a player that records what it is asked to play.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "audira/velaudira.h"
#include "eventually.h"

namespace pavo_test {

class udp_peer {
public:
  udp_peer();  // bound to 127.0.0.1, port chosen by the system
  ~udp_peer();
  uint16_t port() const { return port_; }
  // The next datagram (and where it came from), or nothing within `limit`.
  std::optional<std::vector<uint8_t>> receive(
      std::chrono::milliseconds limit = testsupport::wait_limit());
  const sockaddr_in& last_sender() const { return from_; }
  void send_to(const sockaddr_in& to, const std::vector<uint8_t>& data);

private:
  int fd_ = -1;
  uint16_t port_ = 0;
  sockaddr_in from_{};
};

class recording_player : public velaudira {
public:
  int play(const common_data_t* frame) override;
  int conceal(unsigned count) override;
  // Waits until `count` frames were played.
  bool wait_played(std::size_t count);

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::vector<uint8_t>> played;
  unsigned concealed = 0;
};

}  // namespace pavo_test

// A loss/delay/duplication shim between one UDP client and a server on loopback. The client
// sends to port(); the relay forwards to the server from its own socket and returns the
// answers. Decisions come from a seeded generator.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

namespace netra_test {

struct relay_profile {
  double loss = 0;
  uint32_t delay_ms = 0;
  uint32_t jitter_ms = 0;  // uniform extra delay; reorders
  double duplicate = 0;
};

class udp_relay {
public:
  udp_relay(uint16_t server_port, relay_profile up, relay_profile down, uint32_t seed);
  ~udp_relay();
  udp_relay(const udp_relay&) = delete;
  udp_relay& operator=(const udp_relay&) = delete;

  uint16_t port() const { return front_.local_endpoint().port(); }
  uint64_t dropped() const { return dropped_; }
  uint64_t forwarded() const { return forwarded_; }

private:
  using udp = asio::ip::udp;
  void arm_front();
  void arm_back();
  void forward(udp::socket& out, const udp::endpoint& to, const uint8_t* data, std::size_t n,
               const relay_profile& p);

  asio::io_context io_;
  udp::socket front_;
  udp::socket back_;
  udp::endpoint server_;
  udp::endpoint client_;
  udp::endpoint front_from_;
  udp::endpoint back_from_;
  uint8_t front_buf_[65536];
  uint8_t back_buf_[65536];
  relay_profile up_, down_;
  std::mt19937 rng_;
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> forwarded_{0};
  std::thread thread_;
};

}  // namespace netra_test

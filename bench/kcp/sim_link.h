// A simulated network path for real kernel sockets: two private network namespaces, each
// with a TUN device (10.77.0.1 in A, 10.77.0.2 in B, point to point, MTU 1400), and a relay
// thread that carries IP packets between the two devices with seeded loss and a uniform
// 30-60 ms one-way delay (so packets also overtake each other).
//
// The namespaces have no names: each is kept alive only by this object's descriptors, so
// nothing is left behind however the process ends. Needs root (CAP_NET_ADMIN, CAP_SYS_ADMIN).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>

class sim_link {
public:
  static constexpr const char* addr_a = "10.77.0.1";
  static constexpr const char* addr_b = "10.77.0.2";

  sim_link() = default;
  ~sim_link();
  sim_link(const sim_link&) = delete;
  sim_link& operator=(const sim_link&) = delete;

  // Creates both namespaces and starts the relay. False with *error on failure.
  bool open(std::string* error);
  // Loss probability per packet and direction, and the seed of the loss and delay draws.
  void set_loss(double probability, uint32_t seed);

  // Runs fn on a thread inside namespace A or B and waits for it; sockets fn creates stay
  // in that namespace. False when the thread could not enter it (fn did not run).
  bool run_in_a(const std::function<void()>& fn) const { return run_in(ns_a_, fn); }
  bool run_in_b(const std::function<void()>& fn) const { return run_in(ns_b_, fn); }

private:
  static bool run_in(int ns_fd, const std::function<void()>& fn);
  static bool make_end(const char* local, const char* peer, int* ns_fd, int* tun_fd,
                       std::string* error);
  void relay();
  bool decide(int64_t* delay_us);  // false: drop the packet

  int ns_a_ = -1, ns_b_ = -1, tun_a_ = -1, tun_b_ = -1;
  std::atomic<bool> stop_{false};
  std::thread relay_;
  std::mutex mutex_;  // guards loss_ and rng_
  double loss_ = 0;
  std::mt19937 rng_{1};
};

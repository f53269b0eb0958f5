// A simulated link between two KCP sessions on a virtual clock: seeded loss, delay, jitter
// (which reorders) and duplication per direction. No sockets, no sleeping.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "netra/kcp_session.h"

namespace netra_test {

struct link_profile {
  double loss = 0;       // probability a datagram is dropped
  uint32_t delay = 20;   // ms one way
  uint32_t jitter = 0;   // extra ms, uniform 0..jitter, per datagram
  double duplicate = 0;  // probability a datagram arrives twice
};

class sim_pair {
public:
  sim_pair(uint32_t seed, link_profile ab, link_profile ba,
           const netra::kcp_config& ca = netra::kcp_config(),
           const netra::kcp_config& cb = netra::kcp_config(), uint32_t start_ms = 0)
      : rng_(seed),
        profile_{ab, ba},
        now_(start_ms),
        a(
            0x11223344, [this](const uint8_t* d, std::size_t n) { transmit(0, d, n); }, ca),
        b(
            0x11223344, [this](const uint8_t* d, std::size_t n) { transmit(1, d, n); }, cb) {
    a.update(now_);
    b.update(now_);
  }

  // One virtual millisecond: deliver what is due, then let both sessions run.
  void tick() {
    ++now_;
    ++ticks_;
    while (!in_flight_.empty() && std::get<0>(in_flight_.begin()->first) <= ticks_) {
      auto node = in_flight_.extract(in_flight_.begin());
      int to = std::get<2>(node.key());
      const std::vector<uint8_t>& bytes = node.mapped();
      (to == 0 ? a : b).input(bytes.data(), bytes.size());
    }
    a.update(now_);
    b.update(now_);
    if (drain_a)
      drain(a, &received_a);
    if (drain_b)
      drain(b, &received_b);
    if (on_tick)
      on_tick();
  }

  // Ticks until done() or max_ms virtual milliseconds; true when done.
  bool run(const std::function<bool()>& done, uint32_t max_ms) {
    for (uint32_t i = 0; i < max_ms; ++i) {
      tick();
      if (done())
        return true;
    }
    return false;
  }

  uint32_t now() const { return now_; }
  // Drops everything sent in direction `from` (0: a->b, 1: b->a) while set.
  void blackout(int from, bool on) { blackout_[from] = on; }
  // Every datagram handed to the link: (time, from, bytes), before loss.
  std::vector<std::tuple<uint32_t, int, std::vector<uint8_t>>> sent;
  bool record = false;

  bool drain_a = true;
  bool drain_b = true;
  std::vector<std::vector<uint8_t>> received_a;
  std::vector<std::vector<uint8_t>> received_b;
  std::function<void()> on_tick;

private:
  static void drain(netra::kcp_session& s, std::vector<std::vector<uint8_t>>* out) {
    std::vector<uint8_t> msg;
    while (s.receive(msg) >= 0)
      out->push_back(msg);
  }

  void transmit(int from, const uint8_t* d, std::size_t n) {
    std::vector<uint8_t> bytes(d, d + n);
    if (record)
      sent.emplace_back(now_, from, bytes);
    if (blackout_[from])
      return;
    const link_profile& p = profile_[from];
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    if (unit(rng_) < p.loss)
      return;
    int copies = unit(rng_) < p.duplicate ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
      uint32_t delay = p.delay;
      if (p.jitter > 0)
        delay += std::uniform_int_distribution<uint32_t>(0, p.jitter)(rng_);
      in_flight_.emplace(std::make_tuple(ticks_ + delay, seq_++, 1 - from), bytes);
    }
  }

  std::mt19937 rng_;
  link_profile profile_[2];
  bool blackout_[2] = {false, false};
  uint32_t now_;        // the sessions' clock, which may wrap
  uint64_t ticks_ = 0;  // the link's own clock, which does not
  uint64_t seq_ = 0;
  // (due tick, sequence, receiver) -> datagram
  std::map<std::tuple<uint64_t, uint64_t, int>, std::vector<uint8_t>> in_flight_;

public:
  netra::kcp_session a;
  netra::kcp_session b;
};

}  // namespace netra_test

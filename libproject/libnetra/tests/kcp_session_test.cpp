// The KCP state machine between two sessions over a simulated link.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "netra/kcp_segment.h"
#include "netra/kcp_session.h"
#include "sim_link.h"

using netra::kcp_config;
using netra::kcp_session;
using netra_test::link_profile;
using netra_test::sim_pair;

namespace {

std::vector<uint8_t> random_bytes(std::mt19937& rng, std::size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v)
    b = static_cast<uint8_t>(rng());
  return v;
}

// Messages of mixed sizes: mostly small, some spanning several segments.
std::vector<std::vector<uint8_t>> make_messages(uint32_t seed, int count) {
  std::mt19937 rng(seed);
  std::vector<std::vector<uint8_t>> out;
  for (int i = 0; i < count; ++i) {
    std::size_t n = (i % 7 == 0) ? 1 + rng() % 5000 : 1 + rng() % 300;
    out.push_back(random_bytes(rng, n));
  }
  return out;
}

struct lossy_case {
  double loss;
  uint32_t seed;
};

class KcpLossyLink : public ::testing::TestWithParam<lossy_case> {};

TEST_P(KcpLossyLink, DeliversEveryMessageIntactAndInOrderBothWays) {
  const lossy_case c = GetParam();
  link_profile link{c.loss, 20, 30, 0.05};
  // Start just before the 32-bit clock wraps, so timestamps cross zero mid-run.
  sim_pair net(c.seed, link, link, kcp_config(), kcp_config(), 0xfffff000u);
  auto to_b = make_messages(c.seed + 1, 300);
  auto to_a = make_messages(c.seed + 2, 300);
  // Fed in over time, a few per tick, as an application would.
  std::size_t next_b = 0, next_a = 0;
  net.on_tick = [&] {
    for (int i = 0; i < 3 && next_b < to_b.size(); ++i, ++next_b)
      ASSERT_EQ(net.a.send(to_b[next_b].data(), to_b[next_b].size()), 0);
    for (int i = 0; i < 3 && next_a < to_a.size(); ++i, ++next_a)
      ASSERT_EQ(net.b.send(to_a[next_a].data(), to_a[next_a].size()), 0);
  };
  ASSERT_TRUE(net.run(
      [&] { return net.received_b.size() == to_b.size() && net.received_a.size() == to_a.size(); },
      600000));
  EXPECT_TRUE(net.received_b == to_b);
  EXPECT_TRUE(net.received_a == to_a);
  // The loss really was there and was repaired.
  EXPECT_GT(net.a.stats().timeout_resends + net.a.stats().fast_resends, 0u);
  EXPECT_FALSE(net.a.dead());
  EXPECT_FALSE(net.b.dead());
  // Nothing more arrives once all is delivered.
  net.run([] { return false; }, 2000);
  EXPECT_EQ(net.received_b.size(), to_b.size());
  EXPECT_EQ(net.a.waiting_send(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Loss, KcpLossyLink,
                         ::testing::Values(lossy_case{0.10, 7}, lossy_case{0.20, 11},
                                           lossy_case{0.30, 13}));

TEST(KcpSession, LargeMessageIsFragmentedAndReassembled) {
  link_profile link{0.15, 15, 20, 0.02};
  sim_pair net(3, link, link);
  std::mt19937 rng(5);
  auto big = random_bytes(rng, 100 * 1024);
  auto small = random_bytes(rng, 10);
  ASSERT_EQ(net.a.send(big.data(), big.size()), 0);
  ASSERT_EQ(net.a.send(small.data(), small.size()), 0);
  ASSERT_TRUE(net.run([&] { return net.received_b.size() == 2; }, 300000));
  EXPECT_TRUE(net.received_b[0] == big);
  EXPECT_TRUE(net.received_b[1] == small);

  // The largest message fits the receive window; one byte more is refused.
  const std::size_t max = net.a.max_message_size();
  EXPECT_EQ(max, 255u * net.a.mss());
  std::vector<uint8_t> edge(max, 0x5a);
  EXPECT_EQ(net.a.send(edge.data(), edge.size() + 1), -1);
  ASSERT_EQ(net.a.send(edge.data(), edge.size()), 0);
  ASSERT_TRUE(net.run([&] { return net.received_b.size() == 3; }, 300000));
  EXPECT_TRUE(net.received_b[2] == edge);
}

TEST(KcpSession, WindowsBoundWhatIsInFlightAndBuffered) {
  kcp_config sender;
  sender.snd_wnd = 8;
  kcp_config receiver;
  receiver.rcv_wnd = 16;
  sim_pair net(9, link_profile{0, 10, 5, 0}, link_profile{0, 10, 5, 0}, sender, receiver);
  net.drain_b = false;  // the receiving application is busy
  uint32_t max_in_flight = 0;
  std::size_t max_buffered = 0;
  net.on_tick = [&] {
    max_in_flight = std::max(max_in_flight, net.a.in_flight());
    max_buffered = std::max(max_buffered, net.b.receive_queue());
  };
  for (uint8_t i = 0; i < 100; ++i)
    ASSERT_EQ(net.a.send(&i, 1), 0);
  net.run([] { return false; }, 3000);
  EXPECT_LE(max_in_flight, 8u);
  EXPECT_EQ(max_buffered, 16u);  // the receiver filled its window and no further
  EXPECT_EQ(net.a.remote_window(), 0u);
  EXPECT_EQ(net.a.waiting_send(), 100u - 16u);

  // The application catches up: the receiver tells its window at once, without waiting
  // for the sender's probe timer (7 s).
  net.drain_b = true;
  const uint32_t resumed = net.now();
  ASSERT_TRUE(net.run([&] { return net.received_b.size() == 100; }, 60000));
  EXPECT_LT(net.now() - resumed, 2000u);
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(net.received_b[i], std::vector<uint8_t>{static_cast<uint8_t>(i)});
  EXPECT_LE(max_in_flight, 8u);
  EXPECT_LE(max_buffered, 16u);
}

TEST(KcpSession, LostWindowTellIsRecoveredByProbing) {
  // Nothing beyond the receiver's window is in flight, so no resend can carry the news.
  kcp_config sender;
  sender.snd_wnd = 4;
  kcp_config receiver;
  receiver.rcv_wnd = 4;
  sim_pair net(2, link_profile{}, link_profile{}, sender, receiver);
  net.drain_b = false;
  for (uint8_t i = 0; i < 10; ++i)
    ASSERT_EQ(net.a.send(&i, 1), 0);
  net.run([] { return false; }, 500);
  ASSERT_EQ(net.a.remote_window(), 0u);
  // The receiver drains while its answers are lost: the sender must ask by itself.
  net.blackout(1, true);
  net.drain_b = true;
  net.record = true;
  net.run([] { return false; }, 200);
  net.blackout(1, false);
  ASSERT_TRUE(
      net.run([&] { return net.received_b.size() == 10 && net.a.waiting_send() == 0; }, 60000));
  int probes = 0;
  for (const auto& s : net.sent) {
    netra::kcp_segment_header h;
    if (std::get<1>(s) == 0 &&
        netra::decode_segment_header(std::get<2>(s).data(), std::get<2>(s).size(), &h) &&
        h.cmd == netra::kcp_cmd_wask)
      ++probes;
  }
  EXPECT_GE(probes, 1);
}

// Reads the data segments (sn) of a datagram.
std::vector<uint32_t> pushed(const std::vector<uint8_t>& d) {
  std::vector<uint32_t> sns;
  std::size_t pos = 0;
  netra::kcp_segment_header h;
  while (netra::decode_segment_header(d.data() + pos, d.size() - pos, &h)) {
    if (h.cmd == netra::kcp_cmd_push)
      sns.push_back(h.sn);
    pos += netra::kcp_overhead + h.len;
  }
  return sns;
}

std::vector<uint8_t> ack(uint32_t conv, uint32_t sn, uint32_t ts, uint32_t una) {
  netra::kcp_segment_header h;
  h.conv = conv;
  h.cmd = netra::kcp_cmd_ack;
  h.wnd = 128;
  h.ts = ts;
  h.sn = sn;
  h.una = una;
  std::vector<uint8_t> d(netra::kcp_overhead);
  netra::encode_segment_header(h, d.data());
  return d;
}

struct captured {
  std::vector<std::vector<uint8_t>> out;
  kcp_session::output_fn fn() {
    return [this](const uint8_t* d, std::size_t n) { out.emplace_back(d, d + n); };
  }
  std::vector<uint32_t> sns() const {
    std::vector<uint32_t> all;
    for (const auto& d : out)
      for (uint32_t sn : pushed(d))
        all.push_back(sn);
    return all;
  }
};

TEST(KcpSession, FastResendAfterTwoAcksSkipASegment) {
  for (uint32_t fast_resend : {2u, 0u}) {
    SCOPED_TRACE(fast_resend);
    captured wire;
    kcp_config cfg;
    cfg.fast_resend = fast_resend;
    kcp_session s(7, wire.fn(), cfg);
    s.update(1000);
    uint8_t m = 1;
    for (int i = 0; i < 4; ++i)
      ASSERT_EQ(s.send(&m, 1), 0);
    s.flush();
    ASSERT_EQ(wire.sns(), (std::vector<uint32_t>{0, 1, 2, 3}));
    wire.out.clear();

    // sn 0 was lost; sn 1 arrives: one skip is not yet a reason to resend.
    s.update(1020);
    ASSERT_EQ(s.input(ack(7, 1, 1000, 0).data(), netra::kcp_overhead), 0);
    s.flush();
    EXPECT_TRUE(wire.sns().empty());
    // sn 2 arrives too: the second skip resends sn 0 long before its time-out.
    s.update(1025);
    ASSERT_EQ(s.input(ack(7, 2, 1000, 0).data(), netra::kcp_overhead), 0);
    s.flush();
    if (fast_resend == 2) {
      EXPECT_EQ(wire.sns(), std::vector<uint32_t>{0});
      EXPECT_EQ(s.stats().fast_resends, 1u);
    } else {
      EXPECT_TRUE(wire.sns().empty());
      EXPECT_EQ(s.stats().fast_resends, 0u);
    }
    EXPECT_EQ(s.stats().timeout_resends, 0u);
  }
}

TEST(KcpSession, LostSmallMessageRidesWithTheNextOne) {
  for (uint32_t bundle : {4u, 0u}) {
    SCOPED_TRACE(bundle);
    kcp_config cfg;
    cfg.bundle = bundle;
    sim_pair net(3, link_profile{0, 40, 0, 0}, link_profile{0, 40, 0, 0}, cfg, cfg);
    net.record = true;
    uint8_t first = 1;
    uint8_t second = 2;
    net.blackout(0, true);  // the datagram carrying the first message is lost
    ASSERT_EQ(net.a.send(&first, 1), 0);
    ASSERT_TRUE(net.run([&] { return !net.sent.empty(); }, 100));
    net.blackout(0, false);
    net.run([] { return false; }, 20);
    const uint32_t second_sent = net.now();
    ASSERT_EQ(net.a.send(&second, 1), 0);
    ASSERT_TRUE(net.run([&] { return net.received_b.size() == 2; }, 5000));
    EXPECT_EQ(net.received_b[0], std::vector<uint8_t>{1});
    EXPECT_EQ(net.received_b[1], std::vector<uint8_t>{2});
    const uint32_t waited = net.now() - second_sent;
    if (bundle > 0) {
      // Both arrive one trip after the second send; no resend was needed.
      EXPECT_LE(waited, 40u + 2 * cfg.interval);
      EXPECT_EQ(net.a.stats().bundled_copies, 1u);
      EXPECT_EQ(net.a.stats().timeout_resends, 0u);
    } else {
      EXPECT_GT(waited, 40u + 2 * cfg.interval);  // held back until sn 0 was resent
      EXPECT_EQ(net.a.stats().bundled_copies, 0u);
    }
  }
}

TEST(KcpSession, BundlingNeverAddsDatagramsOrCopiesLargeSegments) {
  captured wire;
  kcp_config cfg;
  kcp_session s(7, wire.fn(), cfg);
  s.update(1000);
  std::vector<uint8_t> big(cfg.bundle_max_bytes + 1, 7);
  uint8_t small = 1;
  ASSERT_EQ(s.send(big.data(), big.size()), 0);  // sn 0, too large to copy
  ASSERT_EQ(s.send(&small, 1), 0);               // sn 1
  s.update(1010);
  ASSERT_EQ(wire.sns(), (std::vector<uint32_t>{0, 1}));
  wire.out.clear();
  // Without new data nothing is repeated.
  s.update(1020);
  EXPECT_TRUE(wire.out.empty());
  // New data brings the small unacknowledged segment along, not the large one.
  ASSERT_EQ(s.send(&small, 1), 0);
  s.update(1030);
  ASSERT_EQ(wire.out.size(), 1u);
  EXPECT_EQ(wire.sns(), (std::vector<uint32_t>{2, 1}));
  wire.out.clear();
  // A full datagram of new data leaves no room: no extra datagram for copies.
  std::vector<uint8_t> full(s.mss(), 9);
  ASSERT_EQ(s.send(full.data(), full.size()), 0);
  s.update(1040);
  ASSERT_EQ(wire.out.size(), 1u);
  EXPECT_EQ(wire.sns(), std::vector<uint32_t>{3});
  EXPECT_EQ(s.stats().bundled_copies, 1u);
}

// A burst (many small messages, one flush each, none acknowledged yet) carries copies only
// while it is still thin; past bundle_in_flight every datagram holds just its new segment.
TEST(KcpSession, BurstsCarryNoCopies) {
  captured wire;
  kcp_config cfg;
  kcp_session s(7, wire.fn(), cfg);
  s.update(1000);
  uint8_t small = 1;
  uint64_t copies_when_thick = 0;
  for (uint32_t i = 0; i < 3 * cfg.bundle_in_flight; ++i) {
    ASSERT_EQ(s.send(&small, 1), 0);
    wire.out.clear();
    s.flush();
    ASSERT_EQ(wire.out.size(), 1u);
    if (i + 1 == cfg.bundle_in_flight)
      copies_when_thick = s.stats().bundled_copies;
    if (i + 1 > cfg.bundle_in_flight) {
      EXPECT_EQ(wire.sns(), std::vector<uint32_t>{i}) << i;
    }
  }
  EXPECT_GT(copies_when_thick, 0u);
  EXPECT_EQ(s.stats().bundled_copies, copies_when_thick);
}

// A thin stream (one small message every 20 ms) over 10% loss each way: the delay from send to
// in-order delivery, on the virtual clock, stays near one trip for nearly every message.
TEST(KcpSession, ThinStreamTailDelayUnderLoss) {
  auto p99 = [](uint32_t bundle) {
    kcp_config cfg;
    cfg.bundle = bundle;
    link_profile link{0.10, 30, 30, 0};
    sim_pair net(11, link, link, cfg, cfg);
    std::vector<uint32_t> sent_at;
    std::vector<uint32_t> delays;
    net.on_tick = [&] {
      while (delays.size() < net.received_b.size())
        delays.push_back(net.now() - sent_at[delays.size()]);
    };
    for (uint32_t i = 0; i < 1000; ++i) {
      uint8_t m[8] = {static_cast<uint8_t>(i)};
      sent_at.push_back(net.now());
      EXPECT_EQ(net.a.send(m, sizeof m), 0);
      net.run([] { return false; }, 20);
    }
    EXPECT_TRUE(net.run([&] { return net.received_b.size() == 1000; }, 60000));
    std::sort(delays.begin(), delays.end());
    return delays.empty() ? 0u : delays[delays.size() * 99 / 100];
  };
  const uint32_t with = p99(4);
  const uint32_t without = p99(0);
  RecordProperty("p99_with", static_cast<int>(with));
  RecordProperty("p99_without", static_cast<int>(without));
  EXPECT_LT(with, 130u);  // one-way 30-60 ms plus a flush or two
  EXPECT_LT(with * 3, without * 2);
}

TEST(KcpSession, ResendTimeoutBacksOffAndDeadLinkIsReported) {
  for (bool nodelay : {true, false}) {
    SCOPED_TRACE(nodelay);
    kcp_config cfg;
    cfg.nodelay = nodelay;
    cfg.dead_link = 8;
    sim_pair net(4, link_profile{}, link_profile{}, cfg, cfg);
    net.record = true;
    net.blackout(0, true);  // nothing from a arrives
    uint8_t m = 42;
    ASSERT_EQ(net.a.send(&m, 1), 0);
    ASSERT_TRUE(net.run([&] { return net.a.dead(); }, 600000));
    std::vector<uint32_t> times;
    for (const auto& s : net.sent)
      if (std::get<1>(s) == 0 && !pushed(std::get<2>(s)).empty())
        times.push_back(std::get<0>(s));
    ASSERT_EQ(times.size(), 8u);  // dead after the dead_link-th transmission
    // Each pause grows by half (no-delay) or doubles, give or take one flush interval. (The
    // first pause also holds a minimum margin without no-delay.)
    const double factor = nodelay ? 1.5 : 2.0;
    for (std::size_t i = 3; i < times.size(); ++i) {
      double prev = times[i - 1] - times[i - 2];
      double gap = times[i] - times[i - 1];
      EXPECT_GE(gap, prev * factor - 12) << i;
      EXPECT_LE(gap, prev * factor + 12) << i;
    }
    EXPECT_EQ(net.a.stats().timeout_resends, 7u);
    EXPECT_EQ(net.a.send(&m, 1), -3);
  }
}

TEST(KcpSession, BadInputIsDroppedAndChangesNothing) {
  captured wire;
  kcp_session s(0xabcdef01, wire.fn());
  s.update(0);
  auto seg = [](uint32_t conv, uint8_t cmd, uint32_t sn, uint32_t len, std::size_t body) {
    netra::kcp_segment_header h;
    h.conv = conv;
    h.cmd = cmd;
    h.wnd = 128;
    h.sn = sn;
    h.len = len;
    std::vector<uint8_t> d(netra::kcp_overhead + body, 0x61);
    netra::encode_segment_header(h, d.data());
    return d;
  };
  const uint32_t conv = 0xabcdef01;
  std::vector<std::pair<const char*, std::vector<uint8_t>>> bad = {
      {"empty", {}},
      {"one byte", {81}},
      {"23 bytes", std::vector<uint8_t>(23, 0)},
      {"len past the end", seg(conv, netra::kcp_cmd_push, 0, 10, 9)},
      {"len 2^32-1", seg(conv, netra::kcp_cmd_push, 0, 0xffffffffu, 4)},
      {"cmd 0", seg(conv, 0, 0, 0, 0)},
      {"cmd 80", seg(conv, 80, 0, 0, 0)},
      {"cmd 85", seg(conv, 85, 0, 0, 0)},
      {"other conv", seg(conv + 1, netra::kcp_cmd_push, 0, 3, 3)},
      {"ack with a body", seg(conv, netra::kcp_cmd_ack, 0, 3, 3)},
      {"segment larger than the mss", seg(conv, netra::kcp_cmd_push, 0, 1377, 1377)},
  };
  // A good segment followed by junk, and by a second segment of another conversation.
  auto good = seg(conv, netra::kcp_cmd_push, 0, 3, 3);
  auto tail = good;
  tail.insert(tail.end(), {1, 2, 3});
  bad.emplace_back("trailing bytes", tail);
  auto mixed = good;
  auto other = seg(conv + 1, netra::kcp_cmd_push, 1, 3, 3);
  mixed.insert(mixed.end(), other.begin(), other.end());
  bad.emplace_back("two conversations", mixed);
  // Every cut of a good two-segment datagram that does not end on a segment boundary.
  auto two = good;
  auto second = seg(conv, netra::kcp_cmd_push, 1, 3, 3);
  two.insert(two.end(), second.begin(), second.end());
  for (std::size_t n = 1; n < two.size(); ++n)
    if (n != good.size())
      bad.emplace_back("cut", std::vector<uint8_t>(two.begin(), two.begin() + n));

  for (const auto& b : bad) {
    // Copied to an exact-size heap block so a read past the end is caught by the sanitizer.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[b.second.size() + 1]);
    std::copy(b.second.begin(), b.second.end(), exact.get());
    EXPECT_LT(s.input(b.second.empty() ? nullptr : exact.get(), b.second.size()), 0) << b.first;
  }
  EXPECT_EQ(s.stats().datagrams_dropped, bad.size());
  EXPECT_EQ(s.stats().datagrams_in, 0u);
  s.update(100);
  EXPECT_TRUE(wire.out.empty());  // not even an ack went out
  std::vector<uint8_t> msg;
  EXPECT_EQ(s.receive(msg), -1);

  // Random junk, seeded: never accepted unless it happens to be well formed, never a crash.
  std::mt19937 rng(99);
  for (int i = 0; i < 20000; ++i) {
    auto junk = random_bytes(rng, rng() % 1500);
    if (junk.size() >= 4 && i % 2 == 0) {  // half of them with our conv, to get further in
      junk[0] = 0x01, junk[1] = 0xef, junk[2] = 0xcd, junk[3] = 0xab;
    }
    s.input(junk.data(), junk.size());
  }

  // The good datagram still goes through afterwards.
  ASSERT_EQ(s.input(two.data(), two.size()), 0);
  ASSERT_EQ(s.receive(msg), 3);
  EXPECT_EQ(msg, std::vector<uint8_t>(3, 0x61));
}

TEST(KcpSession, MutatedTrafficNeverCrashes) {
  // Flip bytes of real traffic between two sessions; both must survive (and, under the
  // sanitizers, never read outside a datagram).
  std::mt19937 rng(17);
  sim_pair net(21, link_profile{0.1, 5, 5, 0}, link_profile{0.1, 5, 5, 0});
  net.record = true;
  auto msgs = make_messages(23, 50);
  for (const auto& m : msgs)
    ASSERT_EQ(net.a.send(m.data(), m.size()), 0);
  net.run([] { return false; }, 3000);
  ASSERT_FALSE(net.sent.empty());
  kcp_session victim(0x11223344, [](const uint8_t*, std::size_t) {});
  victim.update(0);
  std::vector<uint8_t> out;
  for (int round = 0; round < 20; ++round) {
    for (const auto& s : net.sent) {
      std::vector<uint8_t> d = std::get<2>(s);
      for (int k = 0; k < 3; ++k)
        d[rng() % d.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      if (rng() % 4 == 0)
        d.resize(rng() % (d.size() + 1));
      std::unique_ptr<uint8_t[]> exact(new uint8_t[d.size() + 1]);
      std::copy(d.begin(), d.end(), exact.get());
      victim.input(exact.get(), d.size());
      victim.update(round * 100 + 1);
      while (victim.receive(out) >= 0) {
      }
    }
  }
  SUCCEED();
}

TEST(KcpSession, HugeFragmentCountCannotStallTheStream) {
  // A peer that announces more fragments than the receive window holds would block the
  // queue for ever; the message is dropped and what follows still arrives.
  captured wire;
  kcp_config cfg;
  cfg.rcv_wnd = 4;
  kcp_session s(5, wire.fn(), cfg);
  s.update(0);
  auto push = [](uint32_t sn, uint8_t frg, uint8_t byte) {
    netra::kcp_segment_header h;
    h.conv = 5;
    h.cmd = netra::kcp_cmd_push;
    h.frg = frg;
    h.wnd = 128;
    h.sn = sn;
    h.una = 0;
    h.len = 1;
    std::vector<uint8_t> d(netra::kcp_overhead + 1, byte);
    netra::encode_segment_header(h, d.data());
    return d;
  };
  for (uint32_t sn = 0; sn < 4; ++sn)
    ASSERT_EQ(s.input(push(sn, static_cast<uint8_t>(9 - sn), 1).data(), 25), 0);
  ASSERT_EQ(s.input(push(4, 0, 7).data(), 25), 0);
  std::vector<uint8_t> msg;
  ASSERT_EQ(s.receive(msg), 1);
  EXPECT_EQ(msg, std::vector<uint8_t>{7});
  EXPECT_EQ(s.stats().messages_dropped, 1u);
}

}  // namespace

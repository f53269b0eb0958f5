// The video forwarding rules on a virtual clock: what goes to which listener, how loss reports
// are answered and when publishers get feedback, without sockets and without waiting.
#include <gtest/gtest.h>

#include <vector>

#include "control_wire.h"
#include "video_relay.h"
#include "wirebytes/byte_order.h"
#include "wirebytes/byte_writer.h"

namespace mcu {
namespace {

using bytes = std::vector<uint8_t>;

constexpr uint32_t room = 5, teacher = 10001, alice = 10003, bob = 10004, camera = 1;
const video_listener_key to_alice{room, alice, teacher, camera};
const video_listener_key to_bob{room, bob, teacher, camera};

bytes packet(uint8_t pt, uint16_t seq, uint32_t ts, bool key = false) {
  bytes p(12);
  p[0] = 0x80;
  p[1] = pt;
  wirebytes::put_be16(p.data() + 2, seq);
  wirebytes::put_be32(p.data() + 4, ts);
  wirebytes::put_be32(p.data() + 8, teacher);
  // The RED byte, then a start code and an SPS (key) or a slice.
  const bytes payload = key ? bytes{1, 0, 0, 0, 1, 0x67, 0x42} : bytes{1, 0, 0, 0, 1, 0x41, 0x9a};
  p.insert(p.end(), payload.begin(), payload.end());
  return p;
}

bytes report(uint32_t listener, std::vector<uint16_t> seqs, uint32_t kind = camera) {
  bytes r;
  wirebytes::byte_writer w(r);
  w.u32(teacher).u32(kind).u32(static_cast<uint32_t>(seqs.size())).u32(listener);
  for (uint16_t s : seqs)
    w.u16(s);
  return r;
}

uint32_t word(const bytes& p, std::size_t at) {
  return wirebytes::get_be32(p.data() + at);
}

struct sent {
  video_listener_key to;
  uint16_t seq;
};

class VideoRelay : public ::testing::Test {
protected:
  VideoRelay() { relay.open_publisher(room, teacher, camera); }

  // A packet from the teacher at `now`; true when it went anywhere.
  bool in(const bytes& p, uint64_t now) {
    velrtp_header header;
    EXPECT_TRUE(video_relay::stream_packet(p.data(), p.size(), teacher, &header));
    return relay.publisher_packet(room, teacher, camera, header, p.data(), p.size(), now);
  }
  void join(const video_listener_key& key) {
    relay.open_listener(key);
    relay.listener_ready(key);
  }
  // What went to `key` since the last call, as sequence numbers.
  std::vector<uint16_t> took(const video_listener_key& key) {
    std::vector<uint16_t> seqs;
    std::vector<sent> rest;
    for (const sent& s : out) {
      if (s.to.listener == key.listener)
        seqs.push_back(s.seq);
      else
        rest.push_back(s);
    }
    out.swap(rest);
    return seqs;
  }
  std::vector<relay_control> lost(uint32_t listener, std::vector<uint16_t> seqs, uint64_t now) {
    const bytes r = report(listener, std::move(seqs));
    std::vector<relay_control> control;
    relay.loss_report(room, listener, r.data(), r.size(), now, control);
    return control;
  }
  std::vector<relay_control> tick(uint64_t now) {
    std::vector<relay_control> control;
    relay.tick(now, control);
    return control;
  }

  std::vector<sent> out;
  video_relay relay{video_relay_options{},
                    [this](const video_listener_key& to, const uint8_t* p, std::size_t) {
                      out.push_back({to, wirebytes::get_be16(p + 2)});
                    }};
};

TEST_F(VideoRelay, ForwardsToReadyListenersAndStartsNewcomersAtTheNewestKeyFrame) {
  relay.open_listener(to_alice);
  EXPECT_TRUE(in(packet(100, 1, 0, true), 0));
  EXPECT_TRUE(took(to_alice).empty());  // its address is not known yet
  relay.listener_ready(to_alice);
  EXPECT_EQ(took(to_alice), (std::vector<uint16_t>{1}));  // the key frame it missed
  EXPECT_TRUE(in(packet(100, 2, 66), 66));
  EXPECT_TRUE(in(packet(101, 2, 66), 66));   // FEC: forwarded, not kept
  EXPECT_FALSE(in(packet(100, 2, 66), 70));  // a copy of a kept packet
  EXPECT_EQ(took(to_alice), (std::vector<uint16_t>{2, 2}));

  join(to_bob);
  EXPECT_EQ(took(to_bob), (std::vector<uint16_t>{1, 2}));
  relay.listener_ready(to_bob);  // registrations repeat: the burst does not
  EXPECT_TRUE(took(to_bob).empty());

  // A restarted sender numbers from 0 again: nothing kept before counts as a copy.
  relay.close_publisher(room, teacher, camera);
  EXPECT_FALSE(in(packet(100, 3, 99), 99));
  relay.open_publisher(room, teacher, camera);
  relay.close_listener(to_alice);
  EXPECT_TRUE(in(packet(100, 2, 0), 100));
  EXPECT_TRUE(took(to_alice).empty());
  EXPECT_EQ(took(to_bob), (std::vector<uint16_t>{2}));

  relay.close_listener(to_bob);
  relay.close_publisher(room, teacher, camera);
  EXPECT_EQ(relay.streams(), 0u);
}

TEST_F(VideoRelay, RefusesPacketsThatAreNotThePublishersVideo) {
  velrtp_header header;
  bytes p = packet(100, 1, 0);
  EXPECT_TRUE(video_relay::stream_packet(p.data(), p.size(), teacher, &header));
  EXPECT_FALSE(video_relay::stream_packet(p.data(), p.size(), alice, &header));  // not its SSRC
  EXPECT_FALSE(video_relay::stream_packet(p.data(), 11, teacher, &header));
  EXPECT_FALSE(video_relay::stream_packet(nullptr, 0, teacher, &header));
  bytes audio = packet(2, 1, 0);
  EXPECT_FALSE(video_relay::stream_packet(audio.data(), audio.size(), teacher, &header));
  bytes version1 = p;
  version1[0] = 0x40;
  EXPECT_FALSE(video_relay::stream_packet(version1.data(), version1.size(), teacher, &header));
  bytes oversize(1501, 0);
  std::copy(p.begin(), p.end(), oversize.begin());
  EXPECT_FALSE(video_relay::stream_packet(oversize.data(), oversize.size(), teacher, &header));
}

TEST_F(VideoRelay, LossReportsAreCheckedBeforeAnythingIsRead) {
  EXPECT_TRUE(video_relay::valid_loss_report(alice, report(alice, {1}).data(), 18));
  bytes cut = report(alice, {1, 2});
  EXPECT_FALSE(video_relay::valid_loss_report(alice, cut.data(), cut.size() - 1));
  bytes longer = report(alice, {1});
  longer.push_back(0);
  EXPECT_FALSE(video_relay::valid_loss_report(alice, longer.data(), longer.size()));
  EXPECT_FALSE(video_relay::valid_loss_report(alice, report(bob, {1}).data(), 18));  // not its own
  EXPECT_FALSE(video_relay::valid_loss_report(alice, report(alice, {1}, 2).data(), 18));  // audio
  EXPECT_FALSE(video_relay::valid_loss_report(alice, report(alice, {}).data(), 16));
  const std::vector<uint16_t> too_many(pavo_wire::loss_report_max_numbers + 1, 7);
  const bytes big = report(alice, too_many);
  EXPECT_FALSE(video_relay::valid_loss_report(alice, big.data(), big.size()));
  // A count that would make 16 + 2n wrap around is not believed either.
  bytes wrap = report(alice, {1});
  wirebytes::put_be32(wrap.data() + 8, 0x80000001u);
  EXPECT_FALSE(video_relay::valid_loss_report(alice, wrap.data(), wrap.size()));
}

TEST_F(VideoRelay, ResendsAKeptPacketToAListenerAtMostOncePerResendGap) {
  join(to_alice);
  in(packet(100, 10, 0, true), 0);
  in(packet(100, 11, 0), 0);
  took(to_alice);
  EXPECT_TRUE(lost(alice, {11}, 1000).empty());  // kept: nothing to ask
  EXPECT_EQ(took(to_alice), (std::vector<uint16_t>{11}));
  lost(alice, {11}, 1050);  // the listener's next report, before the copy arrived
  lost(alice, {11}, 1079);
  EXPECT_TRUE(took(to_alice).empty());
  lost(alice, {11}, 1080);
  EXPECT_EQ(took(to_alice), (std::vector<uint16_t>{11}));
  EXPECT_EQ(relay.resent(), 2u);

  // Another listener's reports have their own gaps.
  join(to_bob);
  took(to_bob);
  lost(bob, {11}, 1081);
  EXPECT_EQ(took(to_bob), (std::vector<uint16_t>{11}));
  // Reports about a stream that closed are ignored.
  relay.close_publisher(room, teacher, camera);
  EXPECT_TRUE(lost(alice, {11, 12}, 2000).empty());
  EXPECT_TRUE(took(to_alice).empty());
}

TEST_F(VideoRelay, AsksThePublisherForWhatItDoesNotKeepAtMostOncePerAskGap) {
  join(to_alice);
  join(to_bob);
  in(packet(100, 20, 0), 0);
  took(to_alice);
  took(to_bob);
  auto ask = lost(alice, {21, 22}, 1000);
  ASSERT_EQ(ask.size(), 1u);
  EXPECT_EQ(ask[0].room, room);
  EXPECT_EQ(ask[0].user, teacher);
  EXPECT_EQ(ask[0].type, 14u);
  EXPECT_EQ(ask[0].payload, (bytes{0, 0, 0, 1, 0, 0, 0, 2, 0, 21, 0, 22}));
  // Bob misses the same packets: the publisher was just asked, so not again.
  EXPECT_TRUE(lost(bob, {21, 22}, 1100).empty());
  // Alice's repeat after her resend gap, still within the ask gap: nothing new either.
  EXPECT_TRUE(lost(alice, {21}, 1150).empty());
  ask = lost(alice, {21}, 1230);
  ASSERT_EQ(ask.size(), 1u);
  EXPECT_EQ(ask[0].payload, (bytes{0, 0, 0, 1, 0, 0, 0, 1, 0, 21}));
  EXPECT_EQ(relay.asked(), 3u);
  EXPECT_TRUE(took(to_alice).empty());  // nothing of it kept, nothing resent
  EXPECT_EQ(relay.resent(), 0u);
}

TEST_F(VideoRelay, TheLongestAskFitsTheControlMessageLimit) {
  join(to_alice);
  std::vector<uint16_t> missing(pavo_wire::loss_report_max_numbers);
  for (std::size_t i = 0; i < missing.size(); ++i)
    missing[i] = static_cast<uint16_t>(100 + i);
  in(packet(100, 99, 0), 0);
  const auto ask = lost(alice, missing, 1000);
  ASSERT_EQ(ask.size(), 1u);
  EXPECT_EQ(word(ask[0].payload, 4), pavo_wire::loss_report_max_numbers);
  EXPECT_EQ(ask[0].payload.size(), pavo_wire::retransmit_header + 2u * missing.size());
  EXPECT_LE(ask[0].payload.size(), pavo_wire::max_send_payload);
}

TEST_F(VideoRelay, GivesFeedbackOncePerPeriodWithTheWorseOfUplinkAndListenerLoss) {
  join(to_alice);
  EXPECT_TRUE(tick(0).empty());  // the first period starts
  // 20 packets sent, every fifth lost on the way in: 16 arrive.
  uint16_t seq = 0;
  for (int i = 0; i < 20; ++i, ++seq)
    if (i % 5 != 3)
      in(packet(100, seq, 66 * i), 66 * i);
  EXPECT_EQ(relay.until_next_feedback(500), 500u);
  EXPECT_TRUE(tick(999).empty());
  auto fb = tick(1000);
  ASSERT_EQ(fb.size(), 2u);
  EXPECT_EQ(fb[0].type, 16u);
  EXPECT_EQ(fb[0].user, teacher);
  EXPECT_EQ(word(fb[0].payload, 0), camera);
  EXPECT_EQ(word(fb[0].payload, 4) & 0xff, 51u);  // 4/20 of 256
  EXPECT_EQ(fb[1].type, 17u);
  EXPECT_EQ(word(fb[1].payload, 4), 20u);  // percent
  EXPECT_EQ(relay.until_next_feedback(1000), 1000u);

  // The next period: no uplink loss, but Alice lost 10 of 20 packets on her way.
  for (int i = 0; i < 20; ++i, ++seq)
    in(packet(100, seq, 2000 + 66 * i), 1000 + 40 * i);
  std::vector<uint16_t> missed;
  for (uint16_t s = 0; s < 10; ++s)
    missed.push_back(static_cast<uint16_t>(seq - 20 + s));
  lost(alice, missed, 1500);
  lost(alice, missed, 1600);  // repeated numbers are not new losses
  EXPECT_TRUE(tick(1999).empty());
  fb = tick(2000);
  ASSERT_EQ(fb.size(), 2u);
  EXPECT_EQ(word(fb[1].payload, 4), 50u);

  // Too few packets in a period: no verdict at all.
  for (int i = 0; i < 4; ++i, ++seq)
    in(packet(100, seq, 4000 + 66 * i), 2100 + 66 * i);
  EXPECT_TRUE(tick(3000).empty());
}

TEST_F(VideoRelay, ListenersWithoutAnAddressDoNotCountForFeedback) {
  relay.open_listener(to_bob);  // never ready
  join(to_alice);
  tick(0);
  for (uint16_t s = 0; s < 10; ++s)
    in(packet(100, s, 66 * s), 66 * s);
  lost(bob, {1, 2, 3, 4, 5}, 700);  // ignored: bob is not ready
  auto fb = tick(1000);
  ASSERT_EQ(fb.size(), 2u);
  EXPECT_EQ(word(fb[1].payload, 4), 0u);
}

TEST_F(VideoRelay, NoFeedbackWhenTheRouterTurnedItOff) {
  video_relay_options options;
  options.feedback_period_ms = 0;
  video_relay quiet(options, [](const video_listener_key&, const uint8_t*, std::size_t) {});
  quiet.open_publisher(room, teacher, camera);
  std::vector<relay_control> out;
  quiet.tick(0, out);
  for (uint16_t s = 0; s < 50; ++s) {
    const bytes p = packet(100, s, s);
    velrtp_header header;
    ASSERT_TRUE(video_relay::stream_packet(p.data(), p.size(), teacher, &header));
    quiet.publisher_packet(room, teacher, camera, header, p.data(), p.size(), s * 100);
  }
  quiet.tick(10000, out);
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace mcu

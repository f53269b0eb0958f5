// The audio path of libpavo: datagram layout, jitter buffer rules, and the sender and
// receiver on real loopback sockets.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "audio_jitter_buffer.h"
#include "audio_media.h"
#include "audio_rtp_packet.h"
#include "audio_rtp_recv.h"
#include "audio_test_support.h"
#include "velmedia/velaudio_device.h"
#include "wirebytes/byte_order.h"

namespace {

using pavo_test::recording_player;
using pavo_test::udp_peer;

using frame_bytes = std::vector<uint8_t>;

// A frame that names its sequence number, `size` bytes long.
frame_bytes frame_of(uint16_t seq, unsigned size = 40) {
  frame_bytes f(size, static_cast<uint8_t>(seq * 7));
  wirebytes::put_be16(f.data(), seq);
  return f;
}
uint16_t seq_of(const frame_bytes& f) {
  return wirebytes::get_be16(f.data());
}
using wirebytes::get_be16;
using wirebytes::get_be32;

// Records what the jitter buffer releases, by sequence number.
struct played_log : audio_jitter_buffer::sink {
  void play_frame(const uint8_t* data, unsigned length) override {
    played.push_back(seq_of(frame_bytes(data, data + length)));
  }
  void frames_lost(unsigned count) override { lost += count; }
  std::vector<uint16_t> played;
  unsigned lost = 0;
};

void insert(audio_jitter_buffer& buffer, uint16_t seq) {
  const frame_bytes f = frame_of(seq);
  buffer.insert(seq, seq * 960u, f.data(), static_cast<unsigned>(f.size()));
}

std::vector<uint16_t> run_of(uint16_t first, unsigned count) {
  std::vector<uint16_t> out;
  for (unsigned i = 0; i < count; ++i)
    out.push_back(static_cast<uint16_t>(first + i));
  return out;
}

TEST(AudioPacketizer, WritesTheFrameThenUpToTwoEarlierFramesOldestFirst) {
  audio_rtp_packetizer packetizer(0x01020304);
  uint8_t out[audio_max_datagram];
  const frame_bytes f0 = frame_of(0, 10), f1 = frame_of(1, 11), f2 = frame_of(2, 12),
                    f3 = frame_of(3, 13);
  ASSERT_EQ(packetizer.packetize(f0.data(), 10, 0, out), 14u + 10);
  EXPECT_EQ(out[0], 0x90);
  EXPECT_EQ(out[1], 2);
  EXPECT_EQ(get_be16(out + 2), 0);
  EXPECT_EQ(get_be32(out + 4), 0u);
  EXPECT_EQ(get_be32(out + 8), 0x01020304u);
  EXPECT_EQ(get_be16(out + 12), 10);
  EXPECT_EQ(frame_bytes(out + 14, out + 24), f0);

  ASSERT_EQ(packetizer.packetize(f1.data(), 11, 960, out), 14u + 11 + 8 + 10);
  ASSERT_EQ(packetizer.packetize(f2.data(), 12, 1920, out), 14u + 12 + 8 + 10 + 8 + 11);
  const unsigned size = packetizer.packetize(f3.data(), 13, 2880, out);
  ASSERT_EQ(size, 14u + 13 + 8 + 11 + 8 + 12);  // f0 has left the history
  EXPECT_EQ(get_be16(out + 2), 3);
  EXPECT_EQ(get_be32(out + 4), 2880u);
  const uint8_t* block = out + 14 + 13;
  EXPECT_EQ(get_be16(block), 11);
  EXPECT_EQ(get_be16(block + 2), 1);
  EXPECT_EQ(get_be32(block + 4), 960u);
  EXPECT_EQ(frame_bytes(block + 8, block + 8 + 11), f1);
  block += 8 + 11;
  EXPECT_EQ(get_be16(block), 12);
  EXPECT_EQ(get_be16(block + 2), 2);
  EXPECT_EQ(get_be32(block + 4), 1920u);
  EXPECT_EQ(frame_bytes(block + 8, block + 8 + 12), f2);
}

TEST(AudioPacketizer, NeverWritesPastFifteenHundredBytes) {
  audio_rtp_packetizer packetizer(7);
  // Guard bytes after the packet buffer catch any write past its end.
  std::vector<uint8_t> buffer(audio_max_datagram + 64, 0xEE);
  const frame_bytes big = frame_of(0, 600);
  packetizer.packetize(big.data(), 600, 0, buffer.data());
  packetizer.packetize(big.data(), 600, 960, buffer.data());
  // 14 + 600 + 2 * 608 would be 1830: only the newest earlier frame rides along.
  const unsigned size = packetizer.packetize(big.data(), 600, 1920, buffer.data());
  EXPECT_EQ(size, 14u + 600 + 608);
  EXPECT_EQ(get_be16(buffer.data() + 614 + 2), 1);
  // A frame that fills the datagram alone goes without redundancy.
  const frame_bytes full = frame_of(3, audio_max_datagram - 14);
  EXPECT_EQ(
      packetizer.packetize(full.data(), static_cast<unsigned>(full.size()), 2880, buffer.data()),
      audio_max_datagram);
  // One byte more cannot be sent at all and takes no sequence number.
  const frame_bytes too_big = frame_of(4, audio_max_datagram - 13);
  EXPECT_EQ(packetizer.packetize(too_big.data(), static_cast<unsigned>(too_big.size()), 3840,
                                 buffer.data()),
            0u);
  EXPECT_EQ(packetizer.next_sequence(), 4);
  for (unsigned i = audio_max_datagram; i < buffer.size(); ++i)
    ASSERT_EQ(buffer[i], 0xEE) << i;
}

TEST(AudioDatagramParser, RefusesWhatIsNotAnAudioDatagramWithoutReadingPastIt) {
  audio_frame_ref primary;
  std::vector<audio_frame_ref> blocks;
  audio_rtp_packetizer packetizer(1);
  uint8_t out[audio_max_datagram];
  const frame_bytes f = frame_of(0, 20);
  packetizer.packetize(f.data(), 20, 0, out);
  const unsigned size = packetizer.packetize(f.data(), 20, 960, out);
  ASSERT_TRUE(parse_audio_datagram(out, size, &primary, &blocks));
  EXPECT_EQ(primary.seq, 1);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].seq, 0);

  // Each cut copy lives in its own exactly sized buffer, so a read past it is caught by ASan.
  for (unsigned cut = 0; cut < size; ++cut) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[cut + 1]);
    std::copy(out, out + cut, copy.get());
    const bool ok = parse_audio_datagram(copy.get(), cut, &primary, &blocks);
    EXPECT_EQ(ok, cut >= 14 + 20) << cut;
    if (ok) {
      EXPECT_TRUE(blocks.empty()) << "a truncated block is not delivered, cut " << cut;
    }
  }
  frame_bytes wrong(out, out + size);
  wrong[0] = 0x80;
  EXPECT_FALSE(parse_audio_datagram(wrong.data(), size, &primary, &blocks));
  wrong[0] = 0x90;
  wrong[1] = 96;
  EXPECT_FALSE(parse_audio_datagram(wrong.data(), size, &primary, &blocks));
  wrong[1] = 2;
  wrong[12] = 0xFF;  // frame length beyond the datagram
  EXPECT_FALSE(parse_audio_datagram(wrong.data(), size, &primary, &blocks));
}

TEST(AudioJitterBuffer, HoldsTwentyThenPlaysFromTheSmallest) {
  played_log log;
  audio_jitter_buffer buffer(log);
  // Out of order, with a repeat that must not count towards the twenty.
  for (uint16_t seq : {105, 100, 119, 101, 102, 103, 104, 106, 107, 108, 109,
                       110, 111, 112, 113, 114, 115, 116, 117, 100, 118}) {
    insert(buffer, seq);
  }
  EXPECT_TRUE(log.played.empty());
  EXPECT_EQ(buffer.held(), 20u);
  insert(buffer, 120);
  EXPECT_EQ(log.played, run_of(100, 21));
  EXPECT_FALSE(buffer.buffering());
}

TEST(AudioJitterBuffer, WaitsForAGapUntilFiveAreHeldAndDiscardsTheLatePacket) {
  played_log log;
  audio_jitter_buffer buffer(log);
  for (uint16_t seq = 0; seq <= 20; ++seq)
    insert(buffer, seq);
  for (uint16_t seq = 21; seq <= 29; ++seq)
    insert(buffer, seq);
  log.played.clear();
  // 30 is lost (with its redundancy); 31-34 wait.
  for (uint16_t seq = 31; seq <= 34; ++seq)
    insert(buffer, seq);
  EXPECT_TRUE(log.played.empty());
  EXPECT_EQ(buffer.held(), 4u);
  insert(buffer, 35);
  EXPECT_EQ(log.played, run_of(31, 5));
  EXPECT_EQ(log.lost, 1u);
  const uint64_t discarded = buffer.discarded();
  insert(buffer, 30);  // too late
  EXPECT_EQ(log.played.size(), 5u);
  EXPECT_EQ(buffer.discarded(), discarded + 1);
  insert(buffer, 36);
  EXPECT_EQ(log.played.back(), 36);
}

TEST(AudioJitterBuffer, FollowsTheSequenceAcrossTheWrapAt65535) {
  played_log log;
  audio_jitter_buffer buffer(log);
  // Buffering across the wrap: the smallest is 65530, not 0.
  for (unsigned i = 0; i <= 20; ++i)
    insert(buffer, static_cast<uint16_t>(65530 + i));
  EXPECT_EQ(log.played, run_of(65530, 21));
  for (unsigned i = 21; i < 40; ++i)
    insert(buffer, static_cast<uint16_t>(65530 + i));
  EXPECT_EQ(log.played, run_of(65530, 40));
  // 65535 is behind 14 now, not 65521 frames ahead.
  insert(buffer, 65535);
  EXPECT_EQ(log.played.size(), 40u);
  EXPECT_EQ(buffer.held(), 0u);
}

// Sender history through datagrams into the jitter buffer, as the receive thread feeds it.
struct stream_through {
  audio_rtp_packetizer packetizer{42};
  played_log log;
  audio_jitter_buffer buffer{log};
  uint8_t out[audio_max_datagram];
  uint16_t next = 0;

  frame_bytes next_datagram() {
    const frame_bytes f = frame_of(next);
    const unsigned size =
        packetizer.packetize(f.data(), static_cast<unsigned>(f.size()), next * 960u, out);
    ++next;
    return frame_bytes(out, out + size);
  }
  void deliver(const frame_bytes& datagram) {
    audio_frame_ref primary;
    std::vector<audio_frame_ref> blocks;
    ASSERT_TRUE(parse_audio_datagram(datagram.data(), static_cast<unsigned>(datagram.size()),
                                     &primary, &blocks));
    buffer.insert(primary.seq, primary.timestamp, primary.data, primary.length);
    for (const audio_frame_ref& b : blocks)
      buffer.insert(b.seq, b.timestamp, b.data, b.length);
  }
};

TEST(AudioRedundancy, OneLostDatagramLosesNoFrameAndARepeatPlaysOnce) {
  stream_through s;
  for (int i = 0; i < 30; ++i)
    s.deliver(s.next_datagram());
  s.next_datagram();  // lost
  const frame_bytes after = s.next_datagram();
  s.deliver(after);
  s.deliver(after);  // repeated
  for (int i = 0; i < 5; ++i) {
    const frame_bytes d = s.next_datagram();
    s.deliver(d);
    s.deliver(d);
  }
  EXPECT_EQ(s.log.played, run_of(0, 37));
  EXPECT_EQ(s.log.lost, 0u);
}

// Frame loss that is left after the redundancy, for random and burst datagram loss.
double frame_loss(double loss, int burst, unsigned seed) {
  stream_through s;
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> chance(0, 1);
  const int total = 5000;
  int dropping = 0;
  for (int i = 0; i < total; ++i) {
    const frame_bytes d = s.next_datagram();
    if (dropping == 0 && chance(random) < loss / burst)
      dropping = burst;
    if (dropping > 0) {
      --dropping;
      continue;
    }
    s.deliver(d);
  }
  // Frames that could still arrive at the end are not counted as lost.
  const double played = static_cast<double>(s.log.played.size() + s.buffer.held());
  return 1.0 - played / total;
}

TEST(AudioRedundancy, RecoversMostFramesUnderRandomLoss) {
  const double random_loss = frame_loss(0.10, 1, 1);
  const double burst_loss = frame_loss(0.05, 3, 2);
  std::printf(
      "audio frame loss after redundancy: %.2f%% at 10%% random datagram loss, "
      "%.2f%% at 5%% loss in bursts of 3\n",
      100 * random_loss, 100 * burst_loss);
  // Losing a frame at 10% random loss takes three datagrams in a row: about 0.1%.
  EXPECT_LT(random_loss, 0.005);
  EXPECT_LT(burst_loss, 0.05);
}

TEST(AudioRtpRecv, RegistersUntilTheFirstDatagramThenPlaysInOrder) {
  udp_peer mcu;
  auto player = std::make_unique<recording_player>();
  recording_player* plays = player.get();
  pavo_wire::media_token token;
  token.bytes[0] = 0x11, token.bytes[15] = 0xEE;
  audio_rtp_recv receiver("127.0.0.1", mcu.port(), 0xA1B2C3D4, std::move(player), token);
  ASSERT_TRUE(receiver.active());
  // Registrations (the own id and the session's token) keep coming while nothing is sent.
  frame_bytes expected = {0xA1, 0xB2, 0xC3, 0xD4, 0x11};
  expected.resize(19, 0);
  expected.push_back(0xEE);
  for (int i = 0; i < 3; ++i) {
    auto reg = mcu.receive();
    ASSERT_TRUE(reg);
    EXPECT_EQ(*reg, expected);
  }
  const sockaddr_in listener = mcu.last_sender();
  // Garbage and oversized datagrams are dropped.
  mcu.send_to(listener, {0x90, 2, 0});
  mcu.send_to(listener, frame_bytes(audio_max_datagram, 0x90));
  audio_rtp_packetizer packetizer(0);
  uint8_t out[audio_max_datagram];
  for (uint16_t seq = 0; seq < 30; ++seq) {
    const frame_bytes f = frame_of(seq);
    const unsigned size =
        packetizer.packetize(f.data(), static_cast<unsigned>(f.size()), seq * 960u, out);
    mcu.send_to(listener, frame_bytes(out, out + size));
  }
  ASSERT_TRUE(plays->wait_played(30));
  std::lock_guard<std::mutex> lock(plays->mutex);
  for (uint16_t seq = 0; seq < 30; ++seq)
    EXPECT_EQ(plays->played[seq], frame_of(seq));
}

TEST(AudioRtpRecv, WithoutAPlayerStaysInert) {
  udp_peer mcu;
  audio_rtp_recv receiver("127.0.0.1", mcu.port(), 1, nullptr);
  EXPECT_FALSE(receiver.active());
}

TEST(AudioSender, SendsTheSyntheticMicrophoneAsNumberedDatagramsWithRedundancy) {
  std::unique_ptr<velaudio_device> device(velaudio_device::create());
  ASSERT_NE(device, nullptr);
  const int synthetic = device->get_microphone_count() - 1;
  ASSERT_GE(synthetic, 0);
  udp_peer mcu;
  auto sender = pavo::make_audio_sender(2, 48000, static_cast<uint16_t>(synthetic));
  ASSERT_EQ(sender->start("127.0.0.1", mcu.port(), 10001), 0);
  EXPECT_EQ(sender->start("127.0.0.1", mcu.port(), 10001), 0);  // already running
  for (uint16_t expected = 0; expected < 5; ++expected) {
    auto datagram = mcu.receive();
    ASSERT_TRUE(datagram);
    audio_frame_ref primary;
    std::vector<audio_frame_ref> blocks;
    ASSERT_TRUE(parse_audio_datagram(datagram->data(), static_cast<unsigned>(datagram->size()),
                                     &primary, &blocks));
    EXPECT_EQ(primary.seq, expected);
    EXPECT_EQ(primary.timestamp, expected * 960u);
    EXPECT_EQ(get_be32(datagram->data() + 8), 10001u);
    ASSERT_EQ(blocks.size(), std::min<std::size_t>(expected, 2));
    if (!blocks.empty()) {
      EXPECT_EQ(blocks.back().seq, expected - 1);
    }
  }
  sender->stop();
}

TEST(AudioSender, AMicrophoneThatDoesNotOpenIsRefused) {
  udp_peer mcu;
  testing::internal::CaptureStdout();
  auto sender = pavo::make_audio_sender(2, 48000, 999);
  EXPECT_EQ(sender->start("127.0.0.1", mcu.port(), 10001), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "start_capture error\n");
}

}  // namespace

// RTP packetising with FEC: the packet layout receivers rely on, recovery of lost packets,
// and hostile input.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "velmedia/velfec.h"

namespace {

using bytes = std::vector<uint8_t>;

struct sent_packet {
  bytes data;
  uint32_t timestamp;
  uint16_t sequence;
};

struct sender {
  std::vector<sent_packet> packets;
  std::unique_ptr<gen_fec_packet> gen;
  explicit sender(uint32_t ssrc = 77) {
    gen.reset(gen_fec_packet::create(
        ssrc,
        [](const uint8_t* p, unsigned n, uint32_t ts, uint16_t seq, void* user) {
          static_cast<sender*>(user)->packets.push_back({bytes(p, p + n), ts, seq});
        },
        this));
  }
};

struct delivered_packet {
  velrtp_header header;
  bytes payload;
};

struct receiver {
  std::vector<delivered_packet> packets;
  std::unique_ptr<received_fec_packet> fec;
  explicit receiver(int kind = 1) {
    fec.reset(received_fec_packet::create(
        100, 101, kind,
        [](const velrtp_header* h, const uint8_t* p, unsigned n, void* user) {
          static_cast<receiver*>(user)->packets.push_back({*h, bytes(p, p + n)});
        },
        this));
  }
  int feed(const bytes& p) { return fec->feed(p.data(), static_cast<unsigned>(p.size())); }
};

// An Annex-B frame of `size` bytes.
bytes frame_of(std::size_t size, uint8_t fill, bool key) {
  bytes f(size, fill);
  f[0] = 0;
  f[1] = 0;
  f[2] = 0;
  f[3] = 1;
  f[4] = key ? 0x67 : 0x41;
  return f;
}

velrtp_header header_of(const bytes& p) {
  velrtp_header h{};
  EXPECT_TRUE(velrtp_read_header(p.data(), static_cast<unsigned>(p.size()), &h));
  return h;
}

// Rebuilds the frames a receiver got, by timestamp, from the payloads after the RED byte.
std::map<uint32_t, bytes> frames_of(const std::vector<delivered_packet>& packets) {
  std::map<uint32_t, std::map<uint16_t, bytes>> pieces;
  for (const auto& p : packets)
    pieces[p.header.timestamp][p.header.sequence] = bytes(p.payload.begin() + 1, p.payload.end());
  std::map<uint32_t, bytes> out;
  for (const auto& frame : pieces)
    for (const auto& piece : frame.second)
      out[frame.first].insert(out[frame.first].end(), piece.second.begin(), piece.second.end());
  return out;
}

TEST(VideoFec, MediaPacketsCarryTheFrameInOrderWithItsMarkerAndNoFecByDefault) {
  sender s;
  ASSERT_TRUE(s.gen);
  EXPECT_EQ(s.gen->send_frame(nullptr, 0, 1, false), -1);
  const bytes big = frame_of(3000, 0xab, true), small = frame_of(100, 0xcd, false);
  ASSERT_EQ(s.gen->send_frame(big.data(), static_cast<unsigned>(big.size()), 40, true), 0);
  ASSERT_EQ(s.gen->send_frame(small.data(), static_cast<unsigned>(small.size()), 106, false), 0);
  ASSERT_EQ(s.packets.size(), 4u);  // 3000 bytes need three packets, then one
  bytes joined;
  for (std::size_t i = 0; i < s.packets.size(); ++i) {
    const sent_packet& p = s.packets[i];
    const velrtp_header h = header_of(p.data);
    EXPECT_LE(p.data.size(), velfec_max_packet);
    EXPECT_EQ(h.payload_type, 100);
    EXPECT_EQ(h.sequence, i);  // consecutive from 0
    EXPECT_EQ(p.sequence, h.sequence);
    EXPECT_EQ(h.ssrc, 77u);
    EXPECT_EQ(p.data[velrtp_header_size], 1);  // the RED byte: the media type
    EXPECT_EQ(h.marker, i == 2 || i == 3 ? 1 : 0);
    EXPECT_EQ(h.timestamp, i < 3 ? 40u : 106u);
    if (i < 3)
      joined.insert(joined.end(), p.data.begin() + velrtp_header_size + 1, p.data.end());
  }
  EXPECT_EQ(joined, big);
  // The first packet of a frame begins with the start code after the RED byte.
  EXPECT_EQ(s.packets[3].data[velrtp_header_size + 4], 1);
}

TEST(VideoFec, RefusesBadSettings) {
  sender s;
  EXPECT_EQ(s.gen->set_payload_types(1, 100, 100, 1), -1);
  EXPECT_EQ(s.gen->set_payload_types(1, 128, 101, 1), -1);
  EXPECT_EQ(s.gen->set_payload_types(1, 100, 101, 4), 0);
  EXPECT_EQ(s.gen->set_protection({256, 30}, {25, 60}), -1);
  EXPECT_EQ(s.gen->set_protection({25, 0}, {25, 60}), -1);
  EXPECT_EQ(gen_fec_packet::create(1, nullptr, nullptr), nullptr);
  EXPECT_EQ(received_fec_packet::create(
                100, 100, 1, [](const velrtp_header*, const uint8_t*, unsigned, void*) {}, nullptr),
            nullptr);
}

TEST(VideoFec, FecPacketsFollowTheirGroupAtTheProtectedShare) {
  sender s;
  ASSERT_EQ(s.gen->set_protection({76, 30}, {76, 60}), 0);  // 30 percent
  const bytes key = frame_of(21 * 1173 - 100, 1, true);     // 21 media packets
  ASSERT_EQ(s.gen->send_frame(key.data(), static_cast<unsigned>(key.size()), 0, true), 0);
  unsigned media = 0, fec = 0;
  uint16_t last_media = 0;
  for (const sent_packet& p : s.packets) {
    const velrtp_header h = header_of(p.data);
    EXPECT_LE(p.data.size(), velfec_max_packet);
    if (h.payload_type == 100) {
      EXPECT_EQ(fec, 0u) << "FEC packets follow the media packets they protect";
      ++media;
      last_media = h.sequence;
    } else {
      ASSERT_EQ(h.payload_type, 101);
      EXPECT_EQ(h.marker, 0);
      EXPECT_LE(h.sequence, last_media);  // the number of a media packet it covers
      ++fec;
    }
  }
  EXPECT_EQ(media, 21u);
  EXPECT_EQ(fec, (21u * 76 + 127) / 255);  // 6

  // Small delta frames share a group until enough packets are due.
  s.packets.clear();
  const bytes delta = frame_of(500, 2, false);
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(s.gen->send_frame(delta.data(), static_cast<unsigned>(delta.size()), 100 + i, false),
              0);
  EXPECT_EQ(s.packets.size(), 3u);
  ASSERT_EQ(s.gen->send_frame(delta.data(), static_cast<unsigned>(delta.size()), 103, false), 0);
  EXPECT_EQ(s.packets.size(), 5u);  // the fourth frame closes the group with one FEC packet
  EXPECT_EQ(header_of(s.packets.back().data).payload_type, 101);
}

// Sends frames, drops the chosen media packets, feeds the rest; true when every frame came out
// whole.
struct lossy_run {
  int rate;
  std::set<uint16_t> drop;
  std::size_t frames_out = 0;
  bool all_whole = false;
  std::size_t delivered = 0;

  void run(const std::vector<bytes>& frames) {
    sender s;
    receiver r;
    s.gen->set_protection({rate, 30}, {rate, 60});
    for (std::size_t i = 0; i < frames.size(); ++i)
      s.gen->send_frame(frames[i].data(), static_cast<unsigned>(frames[i].size()),
                        static_cast<uint32_t>(1000 + 66 * i), i == 0);
    for (const sent_packet& p : s.packets) {
      const velrtp_header h = header_of(p.data);
      if (h.payload_type == 100 && drop.count(h.sequence))
        continue;
      EXPECT_EQ(r.feed(p.data), 0);
    }
    const auto out = frames_of(r.packets);
    frames_out = out.size();
    all_whole = out.size() == frames.size();
    for (std::size_t i = 0; all_whole && i < frames.size(); ++i) {
      auto it = out.find(static_cast<uint32_t>(1000 + 66 * i));
      all_whole = it != out.end() && it->second == frames[i];
    }
    delivered = r.packets.size();
    // Recovered packets keep their marker: exactly one per frame.
    std::size_t markers = 0;
    for (const auto& p : r.packets)
      markers += p.header.marker;
    if (all_whole) {
      EXPECT_EQ(markers, frames.size());
    }
  }
};

std::vector<bytes> sample_frames() {
  // A key frame of 12 packets, then delta frames of 1 to 3 packets.
  std::vector<bytes> frames = {frame_of(12 * 1150, 0x11, true)};
  for (int i = 1; i < 12; ++i)
    frames.push_back(frame_of(300 + 900 * (i % 3), static_cast<uint8_t>(i * 13), false));
  for (auto& f : frames)
    for (std::size_t b = 5; b < f.size(); ++b)
      f[b] = static_cast<uint8_t>(f[b] + b * 31);
  return frames;
}

TEST(VideoFec, RebuildsOneLossPerFecPacketAndBurstsUpToItsStride) {
  const auto frames = sample_frames();
  lossy_run none{76, {}};
  none.run(frames);
  EXPECT_TRUE(none.all_whole);

  // One loss inside the key frame, one in a later group; the last packet of a frame too (its
  // marker must come back).
  lossy_run single{76, {3, 13}};
  single.run(frames);
  EXPECT_TRUE(single.all_whole);

  // The key frame's group has 4 FEC packets (12 * 76 / 255, rounded): a burst of 4 is rebuilt.
  lossy_run burst{76, {4, 5, 6, 7}};
  burst.run(frames);
  EXPECT_TRUE(burst.all_whole);

  // Two losses under one FEC packet (members 0 and 4 of stride 4) cannot be rebuilt.
  lossy_run same_subset{76, {0, 4}};
  same_subset.run(frames);
  EXPECT_FALSE(same_subset.all_whole);

  // Without protection nothing comes back.
  lossy_run unprotected{0, {3}};
  unprotected.run(frames);
  EXPECT_FALSE(unprotected.all_whole);
}

TEST(VideoFec, DeliversEachPacketOnce) {
  sender s;
  receiver r;
  s.gen->set_protection({255, 1}, {255, 1});  // one FEC packet per media packet
  const bytes f = frame_of(2000, 9, true);
  s.gen->send_frame(f.data(), static_cast<unsigned>(f.size()), 5, true);
  for (int twice = 0; twice < 2; ++twice)
    for (const sent_packet& p : s.packets)
      EXPECT_EQ(r.feed(p.data), 0);
  EXPECT_EQ(r.packets.size(), 2u);
  // A packet rebuilt by FEC and then arriving late is not delivered again.
  receiver late;
  const bytes& first = s.packets[0].data;
  for (std::size_t i = 1; i < s.packets.size(); ++i)
    late.feed(s.packets[i].data);
  EXPECT_EQ(late.packets.size(), 2u);
  late.feed(first);
  EXPECT_EQ(late.packets.size(), 2u);
}

TEST(VideoFec, DropsForeignAndForgedDatagrams) {
  receiver r(4);
  EXPECT_EQ(r.feed(bytes{1, 2, 3}), -1);
  EXPECT_EQ(r.feed(bytes(12, 0)), -1);  // version 0
  bytes other_type(20, 0);
  other_type[0] = 0x80;
  other_type[1] = 96;
  EXPECT_EQ(r.feed(other_type), -1);
  EXPECT_EQ(r.fec->feed(nullptr, 10), -1);
  EXPECT_EQ(r.feed(bytes(1600, 0x80)), -1);  // longer than any packet of ours
  bytes empty_media(velrtp_header_size, 0);  // a media packet without even its RED byte
  empty_media[0] = 0x80;
  empty_media[1] = 100;
  EXPECT_EQ(r.feed(empty_media), -1);
  EXPECT_TRUE(r.packets.empty());

  // FEC packets with impossible groups, or of another stream's kind.
  sender s;
  s.gen->set_payload_types(1, 100, 101, 1);  // kind 1; the receiver expects 4
  s.gen->set_protection({255, 1}, {255, 1});
  const bytes f = frame_of(100, 9, true);
  s.gen->send_frame(f.data(), static_cast<unsigned>(f.size()), 5, true);
  ASSERT_EQ(s.packets.size(), 2u);
  EXPECT_EQ(r.feed(s.packets[1].data), -1);
  bytes forged = s.packets[1].data;
  forged[velrtp_header_size + 6] = 4;
  forged[velrtp_header_size + 2] = 0xff;  // count far above the window
  EXPECT_EQ(r.feed(forged), -1);
  forged[velrtp_header_size + 2] = 0;
  forged[velrtp_header_size + 4] = 0;  // stride 0
  EXPECT_EQ(r.feed(forged), -1);

  // Random bytes with a valid header go through without harm.
  std::mt19937 rng(7);
  for (int i = 0; i < 5000; ++i) {
    bytes junk(velrtp_header_size + 8 + rng() % 1300);
    for (auto& b : junk)
      b = static_cast<uint8_t>(rng());
    junk[0] = 0x80;
    junk[1] = static_cast<uint8_t>(rng() & 1 ? 100 : 101);
    junk[velrtp_header_size + 6] = 4;
    r.feed(junk);
  }
  SUCCEED();
}

}  // namespace

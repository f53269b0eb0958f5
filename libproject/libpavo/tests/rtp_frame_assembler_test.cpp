// Frame assembly, scheduling and loss lists of the video receiver, packet by packet.
#include <gtest/gtest.h>

#include <vector>

#include "rtp_frame_assembler.h"

namespace {

using bytes = std::vector<uint8_t>;
using pavo::rtp_frame_assembler;

class Assembler : public ::testing::Test {
protected:
  // A media packet: `first` packets begin with a start code and a NAL header of the frame's
  // type (key or not); the payload starts with the RED byte.
  void packet(uint16_t seq, uint32_t ts, bool first, bool marker, bool key = false) {
    bytes payload = {1};
    if (first) {
      payload.insert(payload.end(), {0, 0, 0, 1, static_cast<uint8_t>(key ? 0x67 : 0x41)});
    }
    payload.push_back(static_cast<uint8_t>(seq));
    velrtp_header h{};
    h.marker = marker ? 1 : 0;
    h.payload_type = 100;
    h.sequence = seq;
    h.timestamp = ts;
    h.ssrc = 9;
    assembler.on_packet(h, payload.data(), static_cast<unsigned>(payload.size()), &out);
  }
  // A one-packet frame.
  void frame(uint16_t seq, uint32_t ts, bool key = false) { packet(seq, ts, true, true, key); }
  // A frame of `n` packets from `seq`.
  void frame_of(uint16_t seq, uint32_t ts, int n, bool key = false) {
    for (int i = 0; i < n; ++i)
      packet(static_cast<uint16_t>(seq + i), ts, i == 0, i == n - 1, key);
  }
  std::size_t decoded() const { return out.frames.size(); }

  rtp_frame_assembler assembler;
  rtp_frame_assembler::output out;
};

TEST_F(Assembler, ShowsNothingUntilTheFirstCompleteKeyFrame) {
  frame_of(10, 1000, 2);  // complete, but not a key frame
  frame(12, 1066);
  EXPECT_EQ(decoded(), 0u);
  EXPECT_TRUE(assembler.resyncing());
  packet(13, 1133, true, false, true);  // a key frame, not complete yet
  EXPECT_EQ(decoded(), 0u);
  packet(14, 1133, false, true);
  ASSERT_EQ(decoded(), 1u);
  EXPECT_FALSE(assembler.resyncing());
  // The key frame's pieces in order, after the RED byte: start code, NAL header, data.
  EXPECT_EQ(out.frames[0], (bytes{0, 0, 0, 1, 0x67, 13, 14}));
  // Older frames are gone; the next frame in order is decoded at once.
  EXPECT_EQ(assembler.frames_held(), 0u);
  frame(15, 1200);
  EXPECT_EQ(decoded(), 2u);
  EXPECT_TRUE(out.net_states.empty());
}

TEST_F(Assembler, DecodesInOrderAndWaitsForAMissingPacket) {
  frame(1, 100, true);
  ASSERT_EQ(decoded(), 1u);
  packet(2, 166, true, false);
  packet(4, 166, false, true);  // 3 missing
  frame(5, 233);
  EXPECT_EQ(decoded(), 1u);
  packet(3, 166, false, false);  // the retransmission
  EXPECT_EQ(decoded(), 3u);      // both frames, in order
  // Late packets of decoded frames go; numbers before the decoded one are dropped early.
  EXPECT_TRUE(assembler.drop_early(2));
  EXPECT_FALSE(assembler.drop_early(6));
  frame(4, 166);
  EXPECT_EQ(decoded(), 3u);
}

TEST_F(Assembler, ListsOnlyTheNumbersMissingAfterTheDecodedOne) {
  frame(99, 1000, true);
  ASSERT_EQ(decoded(), 1u);
  // 100, 101, 103, 104, 106, 107 arrive (frames spanning less than 201 ms).
  packet(100, 1066, true, false);
  packet(101, 1066, false, false);
  packet(103, 1066, false, true);
  packet(104, 1100, true, false);
  packet(106, 1100, false, false);
  packet(107, 1100, false, true);
  // 100 and 101 continue the decoded 99; 102 and 105 are missing. (102 is asked for too: the
  // first packet after a received run is as lost as any other.)
  EXPECT_EQ(assembler.loss_list(), (std::vector<uint16_t>{102, 105}));
  EXPECT_EQ(assembler.loss_list(), (std::vector<uint16_t>{102, 105}));  // until they come
  packet(102, 1066, false, false);
  EXPECT_EQ(decoded(), 2u);
  EXPECT_EQ(assembler.loss_list(), (std::vector<uint16_t>{105}));
  packet(105, 1100, false, false);
  EXPECT_EQ(decoded(), 3u);
  EXPECT_TRUE(assembler.loss_list().empty());
}

TEST_F(Assembler, WhileSearchingForAKeyFrameTheRangeBelowTheFirstNumberIsNotAsked) {
  packet(500, 10, true, false, true);
  packet(503, 10, false, true);
  EXPECT_EQ(assembler.loss_list(), (std::vector<uint16_t>{501, 502}));
}

TEST_F(Assembler, CapsTheLossList) {
  frame(1, 100, true);
  frame(3000, 150);  // 2998 numbers missing
  EXPECT_EQ(assembler.loss_list(2000).size(), 2001u);
}

TEST_F(Assembler, ReportsABadNetworkOnceAndItsEndOnTheNextInOrderDecode) {
  frame(1, 0, true);
  packet(2, 66, true, false);  // frame 66 lacks its last packet, 3
  frame(4, 133);
  frame(5, 200);
  EXPECT_TRUE(out.net_states.empty());  // 200 - 66 < 201: still waiting
  frame(6, 267);
  frame(7, 333);
  ASSERT_EQ(out.net_states, (std::vector<int>{1}));  // 333 - 66 >= 201
  frame(8, 400);
  EXPECT_EQ(out.net_states.size(), 1u);  // once
  EXPECT_EQ(decoded(), 1u);
  packet(3, 66, false, true);  // the missing packet comes back
  EXPECT_EQ(decoded(), 7u);
  EXPECT_EQ(out.net_states, (std::vector<int>{1, 0}));
}

TEST_F(Assembler, SkipsALostFrameAtTheNextCompleteKeyFrame) {
  frame(1, 0, true);
  packet(2, 66, true, false);  // never completes
  frame(4, 133);
  frame_of(5, 300, 2, true);  // a key frame, 234 ms after the stuck one
  ASSERT_EQ(decoded(), 2u);
  EXPECT_EQ(out.frames[1][4], 0x67);
  EXPECT_EQ(out.net_states, (std::vector<int>{1, 0}));
  frame(7, 366);
  EXPECT_EQ(decoded(), 3u);
}

TEST_F(Assembler, DiscardsFramesThatCanNoLongerComplete) {
  // Without a key frame at most 60 frames wait.
  for (uint16_t i = 0; i < 100; ++i)
    packet(static_cast<uint16_t>(2 * i), 10 * i, true, false);  // every frame lacks its end
  EXPECT_LE(assembler.frames_held(), 60u);
  // An old frame 60 s behind the newest goes too, with its numbers.
  rtp_frame_assembler fresh;
  rtp_frame_assembler::output o;
  velrtp_header h{0, 100, 1, 5, 9};
  const bytes start = {1, 0, 0, 1, 0x41};
  fresh.on_packet(h, start.data(), 5, &o);
  h.sequence = 3;
  h.timestamp = 6;
  fresh.on_packet(h, start.data(), 5, &o);
  h.sequence = 5;
  h.timestamp = 60010;
  fresh.on_packet(h, start.data(), 5, &o);
  EXPECT_EQ(fresh.frames_held(), 2u);
  EXPECT_EQ(fresh.loss_list(), (std::vector<uint16_t>{4}));
}

TEST_F(Assembler, FollowsNumbersAndTimestampsAcrossTheirWrap) {
  frame(65534, 0xFFFFFF00u, true);
  frame(65535, 0xFFFFFF42u);
  frame(0, 0x10u);
  frame(1, 0x52u);
  EXPECT_EQ(decoded(), 4u);
  EXPECT_TRUE(assembler.loss_list().empty());
}

TEST_F(Assembler, TakesHostilePacketsWithoutHarm) {
  velrtp_header h{1, 100, 7, 7, 9};
  assembler.on_packet(h, nullptr, 0, &out);
  const uint8_t red_only = 1;
  h.sequence = 8;
  assembler.on_packet(h, &red_only, 1, &out);
  const bytes short_start = {1, 0, 0, 1};  // a start code with nothing after it
  h.sequence = 9;
  h.timestamp = 8;
  assembler.on_packet(h, short_start.data(), 4, &out);
  EXPECT_EQ(decoded(), 0u);
}

}  // namespace

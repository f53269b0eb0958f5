// The bytes on the wire: the KCP segment layout other implementations read and write, and
// the control-message framing carried inside.
#include <gtest/gtest.h>

#include <vector>

#include "netra/kcp_frame.h"
#include "netra/kcp_segment.h"
#include "netra/kcp_session.h"

namespace {

std::vector<std::vector<uint8_t>> collect(netra::kcp_session& s, uint32_t now,
                                          std::vector<std::vector<uint8_t>>& out) {
  out.clear();
  s.update(now);
  s.flush();
  return out;
}

TEST(KcpWire, SegmentHeaderIsLittleEndianInFieldOrder) {
  netra::kcp_segment_header h;
  h.conv = 0x04030201;
  h.cmd = netra::kcp_cmd_push;
  h.frg = 2;
  h.wnd = 0x0605;
  h.ts = 0x0a090807;
  h.sn = 0x0e0d0c0b;
  h.una = 0x1211100f;
  h.len = 0x16151413;
  uint8_t out[24];
  netra::encode_segment_header(h, out);
  const uint8_t expected[24] = {1,  2,  3,  4,  81, 2,  5,  6,  7,  8,  9,  10,
                                11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22};
  EXPECT_EQ(0, memcmp(out, expected, 24));
  netra::kcp_segment_header back;
  ASSERT_TRUE(netra::decode_segment_header(out, 24, &back));
  EXPECT_EQ(back.conv, h.conv);
  EXPECT_EQ(back.wnd, h.wnd);
  EXPECT_EQ(back.ts, h.ts);
  EXPECT_EQ(back.sn, h.sn);
  EXPECT_EQ(back.una, h.una);
  EXPECT_EQ(back.len, h.len);
  EXPECT_FALSE(netra::decode_segment_header(out, 23, &back));
}

TEST(KcpWire, SessionSpeaksTheCommonFormat) {
  std::vector<std::vector<uint8_t>> out;
  netra::kcp_session s(0x01020304,
                       [&](const uint8_t* d, std::size_t n) { out.emplace_back(d, d + n); });

  // What another implementation sends first: one data segment, sn 0, "hello".
  const uint8_t hello[] = {0x04, 0x03, 0x02, 0x01,  // conv
                           81,   0,                 // push, last fragment
                           128,  0,                 // wnd
                           0xe8, 0x03, 0,    0,     // ts 1000
                           0,    0,    0,    0,     // sn 0
                           0,    0,    0,    0,     // una 0
                           5,    0,    0,    0,     // len
                           'h',  'e',  'l',  'l',  'o'};
  s.update(1010);
  ASSERT_EQ(s.input(hello, sizeof hello), 0);
  std::vector<uint8_t> msg;
  ASSERT_EQ(s.receive(msg), 5);
  EXPECT_EQ(std::string(msg.begin(), msg.end()), "hello");

  // Its acknowledgement echoes sn and ts and moves una past it.
  collect(s, 1020, out);
  ASSERT_EQ(out.size(), 1u);
  ASSERT_EQ(out[0].size(), 24u);
  netra::kcp_segment_header h;
  ASSERT_TRUE(netra::decode_segment_header(out[0].data(), out[0].size(), &h));
  EXPECT_EQ(h.conv, 0x01020304u);
  EXPECT_EQ(h.cmd, netra::kcp_cmd_ack);
  EXPECT_EQ(h.sn, 0u);
  EXPECT_EQ(h.ts, 1000u);
  EXPECT_EQ(h.una, 1u);
  EXPECT_EQ(h.wnd, 256u);
  EXPECT_EQ(h.len, 0u);

  // A window probe is answered with a window tell.
  uint8_t probe[24];
  netra::kcp_segment_header p;
  p.conv = 0x01020304;
  p.cmd = netra::kcp_cmd_wask;
  p.wnd = 128;
  netra::encode_segment_header(p, probe);
  ASSERT_EQ(s.input(probe, sizeof probe), 0);
  collect(s, 1030, out);
  ASSERT_EQ(out.size(), 1u);
  ASSERT_TRUE(netra::decode_segment_header(out[0].data(), out[0].size(), &h));
  EXPECT_EQ(h.cmd, netra::kcp_cmd_wins);

  // A message of three segments and a bit goes out as frg 3, 2, 1, 0 with rising sn, each
  // datagram within the MTU.
  std::vector<uint8_t> big(3 * s.mss() + 1, 0x33);
  ASSERT_EQ(s.send(big.data(), big.size()), 0);
  collect(s, 1040, out);
  std::vector<std::pair<uint32_t, uint32_t>> frg_sn;
  for (const auto& d : out) {
    EXPECT_LE(d.size(), 1400u);
    std::size_t pos = 0;
    while (netra::decode_segment_header(d.data() + pos, d.size() - pos, &h)) {
      EXPECT_EQ(h.cmd, netra::kcp_cmd_push);
      EXPECT_EQ(h.una, 1u);
      EXPECT_EQ(h.ts, 1040u);
      frg_sn.emplace_back(h.frg, h.sn);
      pos += 24 + h.len;
    }
  }
  EXPECT_EQ(frg_sn, (std::vector<std::pair<uint32_t, uint32_t>>{{3, 0}, {2, 1}, {1, 2}, {0, 3}}));
}

TEST(ControlFrame, HeaderIsNetworkOrderAndLengthMustMatch) {
  kcp_header_t h{0, 3, 0x00010203};
  const uint8_t payload[3] = {7, 8, 9};
  auto msg = netra::make_control_message(h, payload, 3);
  EXPECT_EQ(msg, (std::vector<uint8_t>{0, 0, 0, 3, 0, 1, 2, 3, 7, 8, 9}));
  kcp_header_t back{};
  ASSERT_TRUE(netra::decode_control_message(msg.data(), msg.size(), &back));
  EXPECT_EQ(back.length, 3);
  EXPECT_EQ(back.type, 0x00010203u);

  EXPECT_TRUE(netra::make_control_message(h, payload, 2).empty());  // length disagrees
  EXPECT_TRUE(netra::make_control_message(h, nullptr, 3).empty());
  kcp_header_t empty{0, 0, 100000};
  EXPECT_EQ(netra::make_control_message(empty, nullptr, 0).size(), 8u);

  EXPECT_FALSE(netra::decode_control_message(msg.data(), 7, &back));
  EXPECT_FALSE(netra::decode_control_message(msg.data(), msg.size() - 1, &back));
  msg.push_back(0);
  EXPECT_FALSE(netra::decode_control_message(msg.data(), msg.size(), &back));
}

}  // namespace

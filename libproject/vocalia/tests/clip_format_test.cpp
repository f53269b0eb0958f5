// The clip reader on hand-made files: what it indexes and where it stops.
#include <gtest/gtest.h>

#include <cstring>

#include "clip_format.h"
#include "clip_test_support.h"

namespace {

using namespace vocalia_internal;
using cliptest::clip_bytes;

std::vector<std::vector<uint8_t>> frames_of_sizes(std::initializer_list<std::size_t> sizes) {
  std::vector<std::vector<uint8_t>> frames;
  uint8_t fill = 1;
  for (std::size_t size : sizes)
    frames.emplace_back(size, fill++);
  return frames;
}

TEST(ClipFormat, HeaderCarriesTheBigEndianLengthAtByteFive) {
  uint8_t header[vocalia_header_size];
  make_header(0x01020304, header);
  const uint8_t expected[] = {'Q', 'N', 'V', 'C', 1, 1, 2, 3, 4};
  EXPECT_EQ(std::memcmp(header, expected, sizeof expected), 0);

  clip_index index;
  ASSERT_TRUE(parse_clip(header, sizeof header, &index));
  EXPECT_EQ(index.header_seconds, 0x01020304u);
  EXPECT_TRUE(index.frames.empty());
  EXPECT_TRUE(index.complete);
}

TEST(ClipFormat, SecondsAreRoundedUpFromTwentyMillisecondFrames) {
  EXPECT_EQ(seconds_for_frames(0), 0u);
  EXPECT_EQ(seconds_for_frames(1), 1u);
  EXPECT_EQ(seconds_for_frames(50), 1u);
  EXPECT_EQ(seconds_for_frames(74), 1u);
  EXPECT_EQ(seconds_for_frames(75), 2u);
  EXPECT_EQ(seconds_for_frames(150), 3u);
  EXPECT_EQ(seconds_for_frames(160), 3u);  // a moment past the third second
}

TEST(ClipFormat, RefusesWhatIsNoClip) {
  clip_index index;
  EXPECT_FALSE(parse_clip(nullptr, 0, &index));
  const std::vector<uint8_t> good = clip_bytes(3, frames_of_sizes({10}));
  EXPECT_FALSE(parse_clip(good.data(), vocalia_header_size - 1, &index));  // cut header
  std::vector<uint8_t> bad = good;
  bad[0] = '#';
  EXPECT_FALSE(parse_clip(bad.data(), bad.size(), &index));
  bad = good;
  bad[4] = 2;  // another version
  EXPECT_FALSE(parse_clip(bad.data(), bad.size(), &index));
  EXPECT_FALSE(parse_clip(good.data(), good.size(), nullptr));
}

TEST(ClipFormat, IndexesEveryFrameOfAWholeClip) {
  const std::vector<uint8_t> bytes = clip_bytes(1, frames_of_sizes({3, 1275, 1}));
  clip_index index;
  ASSERT_TRUE(parse_clip(bytes.data(), bytes.size(), &index));
  EXPECT_TRUE(index.complete);
  ASSERT_EQ(index.frames.size(), 3u);
  EXPECT_EQ(index.frames[0].offset, 11u);
  EXPECT_EQ(index.frames[0].length, 3u);
  EXPECT_EQ(index.frames[1].offset, 16u);
  EXPECT_EQ(index.frames[1].length, 1275u);
  EXPECT_EQ(index.frames[2].offset, 16u + 1275u + 2u);
  EXPECT_EQ(bytes[index.frames[2].offset], 3);
}

TEST(ClipFormat, StopsBeforeABrokenRecordAndKeepsTheFramesBefore) {
  const std::vector<uint8_t> two = clip_bytes(0, frames_of_sizes({4, 5}));
  struct broken {
    const char* what;
    std::vector<uint8_t> tail;
  } cases[] = {
      {"longest length", {0xff, 0xff, 1, 2, 3}},
      {"longer than an Opus packet", {0x04, 0xfc}},  // 1276
      {"empty record", {0x00, 0x00, 0x00, 0x03, 1, 2, 3}},
      {"cut frame", {0x00, 0x08, 1, 2, 3}},
      {"cut length", {0x00}},
  };
  for (const broken& c : cases) {
    std::vector<uint8_t> bytes = two;
    bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());
    // Longer than Opus allows even when the bytes are there.
    if (std::string(c.what) == "longer than an Opus packet")
      bytes.resize(bytes.size() + 1276, 7);
    clip_index index;
    ASSERT_TRUE(parse_clip(bytes.data(), bytes.size(), &index)) << c.what;
    EXPECT_EQ(index.frames.size(), 2u) << c.what;
    EXPECT_FALSE(index.complete) << c.what;
    for (const clip_frame& frame : index.frames)
      EXPECT_LE(frame.offset + frame.length, bytes.size()) << c.what;
  }
}

}  // namespace

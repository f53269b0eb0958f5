#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include <opus.h>

#include "audira/velaudira.h"
#include "eventually.h"
#include "velaudira_player.h"

namespace {

using audira_internal::velaudira_player;

// 20 ms Opus frames of a 1 kHz tone, as velsample_encode makes them.
std::vector<std::vector<uint8_t>> tone_frames(int count) {
  int error = 0;
  OpusEncoder* encoder = opus_encoder_create(48000, 2, OPUS_APPLICATION_VOIP, &error);
  std::vector<std::vector<uint8_t>> frames;
  std::vector<int16_t> pcm(960 * 2);
  for (int f = 0; f < count; ++f) {
    for (int i = 0; i < 960; ++i)
      pcm[2 * i] = pcm[2 * i + 1] =
          static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000 * (f * 960 + i) / 48000.0));
    uint8_t packet[400];
    const int size = opus_encode(encoder, pcm.data(), 960, packet, sizeof packet);
    frames.emplace_back(packet, packet + (size > 0 ? size : 0));
  }
  opus_encoder_destroy(encoder);
  return frames;
}

using testsupport::eventually;

TEST(Velaudira, RefusesWhatItCannotPlay) {
  std::unique_ptr<velaudira> player(velaudira::create(0));
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(player->play(nullptr), -1);
  common_data_t empty;
  EXPECT_EQ(player->play(&empty), -1);
  // Nothing to conceal from before the first frame.
  EXPECT_EQ(player->conceal(1), -1);
  const uint8_t bad[] = {0xff, 0xff, 0xff};  // code 3 with a frame count beyond the limit
  common_data_t garbage(bad, sizeof bad);
  EXPECT_EQ(player->play(&garbage), -1);
}

TEST(Velaudira, AnIndexBeyondTheSpeakerListPlaysOnTheDefaultOutput) {
  std::unique_ptr<velaudira> player(velaudira::create(1000));
  EXPECT_NE(player, nullptr);
}

TEST(Velaudira, PlaysABurstDownToASmallDelayAndConcealsGaps) {
  std::unique_ptr<velaudira_player> player = velaudira_player::open(0);
  ASSERT_NE(player, nullptr);
  const auto frames = tone_frames(25);
  // The jitter buffer's start-up backlog: 20 frames in one go.
  for (int i = 0; i < 20; ++i) {
    common_data_t frame(frames[i].data(), static_cast<unsigned>(frames[i].size()));
    ASSERT_EQ(player->play(&frame), 0);
  }
  const audira_internal::playout_limits limits;
  EXPECT_LE(player->queue().queued_frames(), limits.drop_above);
  EXPECT_GT(player->queue().stats().dropped, 0u);
  // The speaker drains what is left.
  EXPECT_TRUE(eventually([&] { return player->queue().queued_frames() < 960; }));

  // Two lost frames are filled with concealment, 20 ms each.
  const uint64_t before = player->queue().stats().pushed;
  EXPECT_EQ(player->conceal(2), 0);
  EXPECT_EQ(player->queue().stats().pushed - before, 2 * 960u);
  // Never more than five at once.
  EXPECT_EQ(player->conceal(50), 0);
  EXPECT_EQ(player->queue().stats().pushed - before, 7 * 960u);
}

}  // namespace

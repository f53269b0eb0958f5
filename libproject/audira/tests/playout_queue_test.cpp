#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "playout_queue.h"

namespace {

using audira_internal::playout_channels;
using audira_internal::playout_limits;
using audira_internal::playout_queue;
using audira_internal::shorten_frame;

constexpr unsigned frame = 960;  // 20 ms

// A 20 ms frame whose samples count up from `first`, so order and gaps show.
std::vector<int16_t> counting_frame(int first) {
  std::vector<int16_t> pcm(frame * playout_channels);
  for (unsigned i = 0; i < frame; ++i)
    pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>((first + static_cast<int>(i)) % 30000);
  return pcm;
}

TEST(PlayoutQueue, AStreamArrivingOnTimeIsPlayedUntouched) {
  playout_queue queue;
  int next_in = 0, next_out = 0;
  for (int i = 0; i < 3; ++i, next_in += frame)
    queue.push(counting_frame(next_in).data(), frame);
  std::vector<int16_t> out(frame * playout_channels);
  for (int period = 0; period < 200; ++period) {
    ASSERT_EQ(queue.pull(out.data(), frame), frame);
    for (unsigned i = 0; i < frame; ++i, ++next_out)
      ASSERT_EQ(out[2 * i], static_cast<int16_t>(next_out % 30000)) << "period " << period;
    queue.push(counting_frame(next_in).data(), frame);
    next_in += frame;
  }
  EXPECT_EQ(queue.stats().dropped, 0u);
  EXPECT_EQ(queue.stats().compressed, 0u);
  EXPECT_EQ(queue.stats().underruns, 0u);
}

TEST(PlayoutQueue, AJitterBufferBacklogIsBroughtBackToTheTarget) {
  const playout_limits limits;
  playout_queue queue(limits);
  // The jitter buffer's start-up: 20 frames (400 ms) at once.
  for (int i = 0; i < 20; ++i)
    queue.push(counting_frame(i * frame).data(), frame);
  EXPECT_LE(queue.queued_frames(), limits.drop_above);
  EXPECT_GT(queue.stats().dropped, 0u);
  // Then one frame in and one frame out per 20 ms: the rest comes down by shortening.
  std::vector<int16_t> out(frame * playout_channels);
  for (int period = 0; period < 100; ++period) {
    queue.pull(out.data(), frame / 2);
    queue.pull(out.data(), frame / 2);
    queue.push(counting_frame(0).data(), frame);
  }
  EXPECT_LE(queue.queued_frames(), limits.compress_above + limits.min_cut);
  EXPECT_GE(queue.queued_frames(), limits.target - frame);
}

TEST(PlayoutQueue, TheDelayNeverGrowsWithoutBound) {
  const playout_limits limits;
  playout_queue queue(limits);
  for (int i = 0; i < 1000; ++i) {
    queue.push(counting_frame(0).data(), frame);
    ASSERT_LE(queue.queued_frames(), limits.drop_above);
  }
}

TEST(PlayoutQueue, WaitsForAShortBufferBeforePlayingAndAfterRunningDry) {
  const playout_limits limits;
  playout_queue queue(limits);
  std::vector<int16_t> out(4 * frame * playout_channels);
  queue.push(counting_frame(0).data(), frame);  // 20 ms: below resume_at (40 ms)
  EXPECT_EQ(queue.pull(out.data(), 480), 0u);
  queue.push(counting_frame(frame).data(), frame);
  EXPECT_EQ(queue.pull(out.data(), 480), 480u);
  EXPECT_EQ(out[0], 0);
  // Drain past the end: the short read counts as an underrun.
  EXPECT_EQ(queue.pull(out.data(), 4 * frame), 2 * frame - 480);
  EXPECT_EQ(queue.stats().underruns, 1u);
  queue.push(counting_frame(0).data(), frame);
  EXPECT_EQ(queue.pull(out.data(), 480), 0u);  // waiting again
}

TEST(ShortenFrame, SplicesWholePeriodsOutOfATone) {
  // 1 kHz: 48 samples per period, so a cut of 144 (3 periods) keeps the phase.
  std::vector<int16_t> tone(frame * playout_channels);
  for (unsigned i = 0; i < frame; ++i)
    tone[2 * i] = tone[2 * i + 1] =
        static_cast<int16_t>(10000 * std::sin(2 * 3.14159265358979 * 1000 * i / 48000.0));
  const std::vector<int16_t> original = tone;
  const unsigned length = shorten_frame(tone.data(), frame, 120, 480);
  ASSERT_LT(length, frame - 119);
  ASSERT_GT(length, frame - 481);
  EXPECT_EQ((frame - length) % 48, 0u);
  // The result is the same tone, only shorter: no phase jump, no step.
  for (unsigned i = 0; i < length; ++i)
    ASSERT_NEAR(tone[2 * i], original[2 * i], 300) << i;
}

TEST(ShortenFrame, ASteadySignalStaysSteadyAndAShortFrameIsLeftAlone) {
  std::vector<int16_t> flat(frame * playout_channels, 1000);
  EXPECT_EQ(shorten_frame(flat.data(), frame, 120, 480), frame - 120);
  for (unsigned i = 0; i < (frame - 120) * playout_channels; ++i)
    ASSERT_NEAR(flat[i], 1000, 1) << i;
  std::vector<int16_t> small(300 * playout_channels, 5);
  EXPECT_EQ(shorten_frame(small.data(), 300, 120, 480), 300u);
}

}  // namespace

#include <cmath>

#include <gtest/gtest.h>

#include "sync_rules.h"

extern "C" {
#include <libavutil/avutil.h>
}

using namespace sync_rules;

TEST(TargetDelay, OnlyTwoCorrectionsWithinTheThreshold) {
  // 40 ms pictures: threshold 0.04.
  EXPECT_DOUBLE_EQ(target_delay(0.04, 0.0, 3600), 0.04);
  EXPECT_DOUBLE_EQ(target_delay(0.04, 0.039, 3600), 0.04);
  EXPECT_DOUBLE_EQ(target_delay(0.04, -0.039, 3600), 0.04);
  // Behind the master by the threshold or more: cut short, never below zero.
  EXPECT_NEAR(target_delay(0.04, -0.04, 3600), 0.0, 1e-12);
  EXPECT_DOUBLE_EQ(target_delay(0.04, -0.5, 3600), 0.0);
  // Ahead: held twice, however far ahead (no adding of diff to long frames).
  EXPECT_DOUBLE_EQ(target_delay(0.04, 0.04, 3600), 0.08);
  EXPECT_DOUBLE_EQ(target_delay(0.5, 2.0, 3600), 1.0);
}

TEST(TargetDelay, ThresholdIsBoundedByFortyAndHundredFiftyMilliseconds) {
  // A 0.2 s picture has the upper bound 0.15 (not 0.1): 0.12 ahead changes nothing.
  EXPECT_DOUBLE_EQ(target_delay(0.2, 0.12, 3600), 0.2);
  EXPECT_DOUBLE_EQ(target_delay(0.2, 0.15, 3600), 0.4);
  EXPECT_DOUBLE_EQ(target_delay(0.2, -0.12, 3600), 0.2);
  EXPECT_NEAR(target_delay(0.2, -0.15, 3600), 0.05, 1e-12);
  // A 10 ms picture still has 0.04.
  EXPECT_DOUBLE_EQ(target_delay(0.01, 0.03, 3600), 0.01);
  EXPECT_DOUBLE_EQ(target_delay(0.01, 0.05, 3600), 0.02);
}

TEST(TargetDelay, NoCorrectionWhenTheDifferenceIsUnknownOrTooLarge) {
  EXPECT_DOUBLE_EQ(target_delay(0.04, NAN, 3600), 0.04);
  EXPECT_DOUBLE_EQ(target_delay(0.04, 12.0, 10.0), 0.04);
  EXPECT_DOUBLE_EQ(target_delay(0.04, -12.0, 10.0), 0.04);
}

TEST(TotalSeconds, RoundsToTheNearestSecondAfterTheStart) {
  EXPECT_EQ(total_seconds(90400000, 0), 90);
  EXPECT_EQ(total_seconds(90500000, 0), 91);
  EXPECT_EQ(total_seconds(90499999, AV_NOPTS_VALUE), 90);
  // A positive start time counts; one beyond the duration or negative does not.
  EXPECT_EQ(total_seconds(95400000, 5000000), 90);
  EXPECT_EQ(total_seconds(3000000, 5000000), 3);
  EXPECT_EQ(total_seconds(90400000, -2000000), 90);
  EXPECT_EQ(total_seconds(AV_NOPTS_VALUE, 0), 0);
}

TEST(SeekTarget, TimeWhenTheDurationIsKnownElseBytes) {
  const seek_target half = seek_target_for(50, 0, 120000000, 0, 1000);
  EXPECT_FALSE(half.by_bytes);
  EXPECT_EQ(half.pos, 60000000);
  const seek_target shifted = seek_target_for(50, 0, 120000000, 1400000, 1000);
  EXPECT_EQ(shifted.pos, 61400000);
  const seek_target unset_start = seek_target_for(100, 0, 120000000, AV_NOPTS_VALUE, 1000);
  EXPECT_EQ(unset_start.pos, 120000000);

  const seek_target unknown = seek_target_for(30, 0, AV_NOPTS_VALUE, 0, 1000);
  EXPECT_TRUE(unknown.by_bytes);
  EXPECT_EQ(unknown.pos, 300);
  const seek_target forced = seek_target_for(50, 1, 120000000, 0, 1000);
  EXPECT_TRUE(forced.by_bytes);
  EXPECT_EQ(forced.pos, 500);
}

TEST(AudioBuffer, PowerOfTwoNearAThirtiethOfASecondAtLeast512) {
  EXPECT_EQ(audio_buffer_samples(48000), 1024);
  EXPECT_EQ(audio_buffer_samples(44100), 1024);
  EXPECT_EQ(audio_buffer_samples(96000), 2048);
  EXPECT_EQ(audio_buffer_samples(8000), 512);
}

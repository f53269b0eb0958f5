// Picture and sound stay together. The exact figure depends on the machine's load and is
// printed by bench-player; here only a bound that a working audio master always meets.
#include <cmath>

#include <gtest/gtest.h>

#include "av_sync_probe.h"
#include "test_media.h"

using namespace vidora_test;

TEST(AvSync, FlashesComeWithTheirBeeps) {
  temp_folder dir;
  const std::string file = dir.file("flash_beep.mp4");
  ASSERT_TRUE(make_flash_beep_file(file, 8));
  const av_sync_figures figures = measure_av_sync(file, dir.file("sound.raw"));
  ASSERT_TRUE(figures.ended);
  EXPECT_GE(figures.beeps, 7);
  EXPECT_GE(figures.flashes, 6);
  ASSERT_GE(figures.offsets.size(), 6u);
  for (double offset : figures.offsets)
    std::printf("offset %+.1f ms\n", offset * 1000);
  // A picture out of step by a sixth of a second or more is a sync fault, not load.
  EXPECT_LT(percentile_abs(figures.offsets, 0.5), 0.15);
}

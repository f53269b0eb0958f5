#include <gtest/gtest.h>

#include <string>

#include "pavo_test_params.h"
#include "video_param.h"

namespace {

bool parse(const std::string& text, video_param_t* out) {
  return pavo::parse_video_param(text.data(), text.size(), out);
}

TEST(VideoParam, ReadsAllEighteenValuesInOrder) {
  video_param_t p{};
  ASSERT_TRUE(parse(pavo_test::valid_video_param, &p));
  EXPECT_EQ(p.teacher.width, 640);
  EXPECT_EQ(p.teacher.fps, 15);
  EXPECT_EQ(p.teacher.max_bitrate, 1000);
  EXPECT_EQ(p.student.width, 320);
  EXPECT_EQ(p.student.height, 240);
  EXPECT_EQ(p.student.start_bitrate, 300);
  EXPECT_EQ(p.student.min_bitrate, 100);
  EXPECT_EQ(p.share.width, 1280);
  EXPECT_EQ(p.share.min_bitrate, 301);
  EXPECT_EQ(p.share.max_bitrate, 1500);
}

TEST(VideoParam, RefusesMissingMisspelledOrReorderedLines) {
  const std::string full = pavo_test::valid_video_param;
  video_param_t p{};
  // 17 lines: the last one missing.
  const std::string seventeen = full.substr(0, full.rfind("share max"));
  EXPECT_FALSE(parse(seventeen, &p));
  std::string misspelled = full;
  misspelled.replace(misspelled.find("student fps"), 11, "student fsp");
  EXPECT_FALSE(parse(misspelled, &p));
  std::string swapped = full;
  swapped.replace(swapped.find("teacher width"), 13, "teacher hight");
  EXPECT_FALSE(parse(swapped, &p));
  std::string not_number = full;
  not_number.replace(not_number.find("480"), 3, "abc");
  EXPECT_FALSE(parse(not_number, &p));
  std::string too_big = full;
  too_big.replace(too_big.find("480"), 3, "99999999999");
  EXPECT_FALSE(parse(too_big, &p));
  EXPECT_FALSE(parse("", &p));
}

TEST(VideoParam, BlanksInTheFormatMatchAnyWhiteSpaceAsScanfDoes) {
  std::string text = pavo_test::valid_video_param;
  text.replace(text.find("teacher width : 640\n"), 20, "teacher width :640\r\n\n");
  video_param_t p{};
  ASSERT_TRUE(parse(text, &p));
  EXPECT_EQ(p.teacher.width, 640);
  EXPECT_EQ(p.teacher.height, 480);
}

}  // namespace

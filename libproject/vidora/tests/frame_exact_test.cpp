// The delivered pictures are those the ffmpeg tool decodes with the same scaler:
// byte-identical RGB24 at the same timestamps.
#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

#include "test_media.h"

using namespace vidora_test;

namespace {

struct reference {
  std::vector<std::vector<unsigned char>> frames;
};

reference decode_reference(const std::string& file, int width, int height) {
  reference ref;
  const std::string raw = file + ".rgb";
  if (!ffmpeg(
          "-i '" + file +
              "' -map 0:v:0 -sws_flags bicubic -pix_fmt rgb24 -fps_mode passthrough -f rawvideo",
          raw))
    return ref;
  const std::vector<unsigned char> bytes = read_file(raw);
  const size_t frame_size = static_cast<size_t>(width) * height * 3;
  for (size_t at = 0; at + frame_size <= bytes.size(); at += frame_size)
    ref.frames.emplace_back(bytes.begin() + at, bytes.begin() + at + frame_size);
  return ref;
}

// Plays `file` and checks every delivered picture against the reference, in order.
void expect_exact(const std::string& file, int width, int height, int expected_frames) {
  const reference ref = decode_reference(file, width, height);
  ASSERT_EQ(static_cast<int>(ref.frames.size()), expected_frames);
  // testsrc draws a counter: every picture differs, so a match names its timestamp.
  for (size_t i = 1; i < ref.frames.size(); i++)
    ASSERT_NE(ref.frames[i], ref.frames[i - 1]);

  recording_observer observer(true);
  std::unique_ptr<vidora> player(vidora::create(file.c_str(), &observer, 0));
  player->start();
  ASSERT_TRUE(observer.wait_until([&] { return observer.ended; }));
  player.reset();

  ASSERT_GE(observer.frames.size(), ref.frames.size() / 2) << "most pictures are shown";
  EXPECT_EQ(observer.last_width, width);
  EXPECT_EQ(observer.last_height, height);
  size_t next = 0;
  for (size_t i = 0; i < observer.frames.size(); i++) {
    auto it = std::find(ref.frames.begin() + next, ref.frames.end(), observer.frames[i]);
    ASSERT_NE(it, ref.frames.end())
        << "picture " << i << " differs from every reference picture after " << next;
    next = static_cast<size_t>(it - ref.frames.begin()) + 1;
  }
  // Timestamps: the first picture is the first of the file.
  EXPECT_EQ(observer.frames.front(), ref.frames.front());
}

TEST(FrameExact, SameBytesAsTheFfmpegToolsOwnDecode) {
  temp_folder dir;
  const std::string file = dir.file("exact.mp4");
  ASSERT_TRUE(
      ffmpeg("-f lavfi -i testsrc=s=320x240:r=25 -f lavfi -i sine=f=440:r=48000 -t 3 "
             "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -ac 2",
             file));
  expect_exact(file, 320, 240, 75);
}

TEST(FrameExact, RotatedAndOddSizedPicturesToo) {
  temp_folder dir;
  const std::string plain = dir.file("plain.mp4");
  ASSERT_TRUE(ffmpeg(
      "-f lavfi -i testsrc=s=176x144:r=25 -t 2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p",
      plain));
  const std::string rotated = dir.file("rotated.mp4");
  ASSERT_TRUE(ffmpeg("-i '" + plain + "' -c copy -metadata:s:v:0 rotate=270", rotated));
  expect_exact(rotated, 144, 176, 50);
  // 4:4:4 at an odd size: a different path through the scaler.
  const std::string odd = dir.file("odd.mkv");
  ASSERT_TRUE(ffmpeg(
      "-f lavfi -i testsrc=s=151x97:r=25 -t 2 -c:v libx264 -preset ultrafast -pix_fmt yuv444p",
      odd));
  expect_exact(odd, 151, 97, 50);
}

}  // namespace

// Playing whole files through the exported interface: pictures, progress and the end.
#include <memory>

#include <gtest/gtest.h>

#include "eventually.h"
#include "test_media.h"
#include "vidora_impl.h"

using namespace vidora_test;

namespace {

constexpr const char* small_av =
    "-f lavfi -i testsrc=s=160x120:r=25 -f lavfi -i sine=f=440:r=48000 "
    "-c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -ac 2 ";

TEST(Playback, ProgressOncePerSecondNeverPastTheTotalAndEndsWithTotal) {
  temp_folder dir;
  const std::string file = dir.file("four.mp4");
  ASSERT_TRUE(ffmpeg(std::string(small_av) + "-t 4", file));

  recording_observer observer;
  std::unique_ptr<vidora_impl> player(
      static_cast<vidora_impl*>(vidora::create(file.c_str(), &observer, 0)));
  ASSERT_EQ(player->start(), 0);
  ASSERT_TRUE(observer.wait_until([&] { return observer.ended; }));
  // The end callback queued the quit: the control thread ends by itself.
  ASSERT_TRUE(testsupport::eventually([&] { return !player->is_running(); }));

  std::lock_guard<std::mutex> lock(observer.mutex);
  EXPECT_GT(observer.frame_count, 25);
  EXPECT_EQ(observer.last_width, 160);
  EXPECT_EQ(observer.last_height, 120);
  ASSERT_GE(observer.progress.size(), 2u);
  const progress_report last = observer.progress.back();
  EXPECT_EQ(last.seconds, 4);
  EXPECT_EQ(last.total, 4);
  for (size_t i = 0; i + 1 < observer.progress.size(); i++) {
    EXPECT_EQ(observer.progress[i].total, 4);
    EXPECT_LE(observer.progress[i].seconds, 4);
    EXPECT_EQ(observer.progress[i].seconds, static_cast<int>(i))
        << "one report per whole second, in order";
  }
  // The started flag stays set: stopping an ended player only joins the ended thread.
  EXPECT_EQ(player->stop(), 0);
}

TEST(Playback, TotalIsTheDurationRoundedToTheNearestSecond) {
  temp_folder dir;
  for (const auto& [length, expected] : {std::pair<const char*, int>{"90.4", 90}, {"90.5", 91}}) {
    const std::string file = dir.file(std::string("long") + length + ".mp4");
    // 10 pictures a second, no sound: the container lasts exactly as long as asked.
    ASSERT_TRUE(ffmpeg(std::string("-f lavfi -i testsrc=s=64x48:r=10 -t ") + length +
                           " -c:v libx264 -preset ultrafast -g 10",
                       file));
    recording_observer observer;
    std::unique_ptr<vidora> player(vidora::create(file.c_str(), &observer, 0));
    player->start();
    ASSERT_TRUE(observer.wait_until([&] { return !observer.progress.empty(); }));
    player.reset();
    std::lock_guard<std::mutex> lock(observer.mutex);
    EXPECT_EQ(observer.progress.front().total, expected) << length << " s";
    EXPECT_EQ(observer.progress.front().seconds, 0);
  }
}

TEST(Playback, PicturesOfARotatedFileComeUpright) {
  temp_folder dir;
  const std::string plain = dir.file("plain.mp4");
  const std::string rotated = dir.file("rotated.mp4");
  ASSERT_TRUE(ffmpeg(std::string(small_av) + "-t 2", plain));
  ASSERT_TRUE(ffmpeg("-i '" + plain + "' -c copy -metadata:s:v:0 rotate=90", rotated));

  recording_observer observer;
  std::unique_ptr<vidora> player(vidora::create(rotated.c_str(), &observer, 0));
  player->start();
  ASSERT_TRUE(observer.wait_until([&] { return observer.frame_count >= 3; }));
  player.reset();
  EXPECT_EQ(observer.last_width, 120);
  EXPECT_EQ(observer.last_height, 160);
}

TEST(Playback, SoundOnlyFileReportsItsEnd) {
  temp_folder dir;
  const std::string file = dir.file("tone.m4a");
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=f=440:r=44100 -t 2 -c:a aac", file));
  recording_observer observer;
  std::unique_ptr<vidora> player(vidora::create(file.c_str(), &observer, 0));
  player->start();
  ASSERT_TRUE(observer.wait_until([&] { return observer.ended; }));
  player.reset();
  EXPECT_EQ(observer.frame_count, 0);
  ASSERT_EQ(observer.progress.size(), 1u);
  EXPECT_EQ(observer.progress[0].seconds, 2);
}

}  // namespace

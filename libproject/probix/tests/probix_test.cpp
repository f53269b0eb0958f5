#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "probix/probix.h"
#include "probix_util.h"

namespace {

constexpr auto kWait = std::chrono::seconds(30);

struct test_deleter {
  void operator()(device_test* test) const { test->destroy(1); }
};
template <class T>
using test_ptr = std::unique_ptr<T, test_deleter>;

// What the video callback saw: the first two pictures whole, and a count of the rest.
struct preview_log {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::vector<uint8_t>> pictures;
  int count = 0, width = 0, height = 0;
  bool stopped = false, late = false;
  std::function<void()> inside;  // runs on the capture thread, under `mutex`

  static void on_frame(void* user, const unsigned char* frame, int width, int height) {
    auto* self = static_cast<preview_log*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    if (self->stopped)
      self->late = true;
    ++self->count;
    self->width = width;
    self->height = height;
    if (self->pictures.size() < 2)
      self->pictures.emplace_back(frame, frame + static_cast<size_t>(width) * height * 3);
    if (self->inside)
      self->inside();
    self->arrived.notify_all();
  }
  bool wait(int frames) {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, kWait, [&] { return count >= frames; });
  }
  void mark_stopped() {
    std::lock_guard<std::mutex> lock(mutex);
    stopped = true;
  }
};

struct level_log {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<unsigned short> levels;
  bool stopped = false, late = false;

  static void on_level(void* user, unsigned short level) {
    auto* self = static_cast<level_log*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    if (self->stopped)
      self->late = true;
    self->levels.push_back(level);
    self->arrived.notify_all();
  }
  bool wait(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, kWait, [&] { return levels.size() >= count; });
  }
  void mark_stopped() {
    std::lock_guard<std::mutex> lock(mutex);
    stopped = true;
  }
};

// B, G, R of one pixel of a BGR24 picture.
struct bgr {
  int b, g, r;
};
bgr pixel(const std::vector<uint8_t>& picture, int width, int x, int y) {
  const size_t at = (static_cast<size_t>(y) * width + x) * 3;
  return {picture[at], picture[at + 1], picture[at + 2]};
}

class ProbixVideoTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("TAV_FAKE_CAMERA", "1", 1);
    test.reset(video_test::create(&preview_log::on_frame, &log));
    ASSERT_TRUE(test);
    fake = test->get_device_count() - 1;
    ASSERT_GE(fake, 0);
    ASSERT_EQ(test->select_device(fake), 0);
  }
  void TearDown() override {
    test.reset();
    unsetenv("TAV_FAKE_CAMERA");
  }

  preview_log log;
  test_ptr<video_test> test;
  int fake = -1;
};

TEST(Probix, CreateNeedsACallback) {
  EXPECT_EQ(video_test::create(nullptr, nullptr), nullptr);
  EXPECT_EQ(audio_test::create(nullptr, nullptr), nullptr);
}

TEST_F(ProbixVideoTest, ListsTheSyntheticCameraAndRefusesBadArguments) {
  char name[128];
  ASSERT_EQ(test->get_device_name(fake, name, sizeof name), 0);
  EXPECT_STREQ(name, "虚拟摄像头 (测试)");
  char small[8];
  ASSERT_EQ(test->get_device_name(fake, small, sizeof small), 0);
  EXPECT_STREQ(small, "虚拟");  // cut between characters
  EXPECT_EQ(test->get_device_name(fake + 1, name, sizeof name), -1);
  EXPECT_EQ(test->get_device_name(-1, name, sizeof name), -1);
  EXPECT_EQ(test->get_device_name(fake, nullptr, 128), -1);
  EXPECT_EQ(test->get_device_name(fake, name, 0), -1);
  EXPECT_EQ(test->select_device(fake + 1), -1);
  EXPECT_EQ(test->select_device(-1), -1);
  EXPECT_EQ(test->stop(), 0);  // not running
}

TEST_F(ProbixVideoTest, PreviewsChangingBgrPictures) {
  ASSERT_EQ(test->start(), 0);
  EXPECT_EQ(test->start(), 0);  // already running
  ASSERT_TRUE(log.wait(2));
  ASSERT_EQ(test->stop(), 0);
  log.mark_stopped();

  std::lock_guard<std::mutex> lock(log.mutex);
  EXPECT_FALSE(log.late);
  ASSERT_EQ(log.width, 640);
  ASSERT_EQ(log.height, 480);
  ASSERT_EQ(log.pictures.size(), 2u);
  EXPECT_NE(log.pictures[0], log.pictures[1]);
  // The test picture's colour bars: red on the left, then green, in B, G, R byte order.
  const bgr red = pixel(log.pictures[0], 640, 40, 300);
  EXPECT_GT(red.r, 180);
  EXPECT_LT(red.g, 70);
  EXPECT_LT(red.b, 70);
  const bgr green = pixel(log.pictures[0], 640, 160, 300);
  EXPECT_GT(green.g, 180);
  EXPECT_LT(green.r, 70);
  EXPECT_LT(green.b, 70);
}

TEST_F(ProbixVideoTest, StopsStartsAgainAndSurvivesDestroyWhileRunning) {
  ASSERT_EQ(test->start(), 0);
  ASSERT_TRUE(log.wait(1));
  ASSERT_EQ(test->stop(), 0);
  EXPECT_EQ(test->stop(), 0);
  int seen = 0;
  {
    std::lock_guard<std::mutex> lock(log.mutex);
    seen = log.count;
  }
  ASSERT_EQ(test->start(), 0);
  ASSERT_TRUE(log.wait(seen + 2));

  // Stopping from inside the callback is refused instead of waiting for itself.
  int inside_stop = 0;
  video_test* raw = test.get();
  {
    std::lock_guard<std::mutex> lock(log.mutex);
    log.inside = [&] { inside_stop = raw->stop(); };
    seen = log.count;
  }
  ASSERT_TRUE(log.wait(seen + 1));
  test.reset();  // destroy while running
  log.mark_stopped();
  std::lock_guard<std::mutex> lock(log.mutex);
  EXPECT_EQ(inside_stop, -1);
  EXPECT_FALSE(log.late);
}

class ProbixAudioTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("TAV_FAKE_MICROPHONE", "1", 1);
    unsetenv("TAV_FAKE_MICROPHONE_WAV");
  }
  void TearDown() override {
    unsetenv("TAV_FAKE_MICROPHONE");
    unsetenv("TAV_FAKE_MICROPHONE_WAV");
    setenv("SDL_AUDIODRIVER", "dummy", 1);
  }

  // Meters the synthetic microphone until `count` levels arrived, then stops.
  std::vector<unsigned short> meter(size_t count) {
    level_log log;
    test_ptr<audio_test> test(audio_test::create(&level_log::on_level, &log));
    EXPECT_TRUE(test);
    if (!test)
      return {};
    const int fake = test->get_device_count() - 1;
    char name[128] = {};
    EXPECT_EQ(test->get_device_name(fake, name, sizeof name), 0);
    EXPECT_STREQ(name, "虚拟麦克风 (测试)");
    EXPECT_EQ(test->select_device(fake), 0);
    EXPECT_EQ(test->start(), 0);
    EXPECT_TRUE(log.wait(count));
    EXPECT_EQ(test->stop(), 0);
    log.mark_stopped();
    test.reset();
    std::lock_guard<std::mutex> lock(log.mutex);
    EXPECT_FALSE(log.late);
    return log.levels;
  }
};

TEST_F(ProbixAudioTest, ToneGivesALevelAndSilenceGivesNone) {
  for (unsigned short level : meter(5))
    EXPECT_GT(level, 1000);

  // A WAV of pure silence, 16 kHz mono 16-bit (converted by the synthetic microphone).
  const char* home = std::getenv("HOME");
  const auto folder = std::filesystem::path(home ? home : "/tmp") / "probix_test";
  std::filesystem::create_directories(folder);
  const std::string wav = (folder / "silence.wav").string();
  FILE* f = std::fopen(wav.c_str(), "wb");
  ASSERT_TRUE(f);
  const unsigned char header[44] = {'R', 'I', 'F',  'F',  36 + 200, 0,   0,   0,    'W', 'A', 'V',
                                    'E', 'f', 'm',  't',  ' ',      16,  0,   0,    0,   1,   0,
                                    1,   0,   0x80, 0x3E, 0,        0,   0,   0x7D, 0,   0,   2,
                                    0,   16,  0,    'd',  'a',      't', 'a', 200,  0,   0,   0};
  std::fwrite(header, 1, sizeof header, f);
  const std::vector<unsigned char> zeros(200, 0);
  std::fwrite(zeros.data(), 1, zeros.size(), f);
  std::fclose(f);
  setenv("TAV_FAKE_MICROPHONE_WAV", wav.c_str(), 1);
  for (unsigned short level : meter(5))
    EXPECT_LE(level, 1);
}

TEST_F(ProbixAudioTest, WithoutAnAudioLayerThereIsNothingToStart) {
  unsetenv("TAV_FAKE_MICROPHONE");
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  level_log log;
  test_ptr<audio_test> test(audio_test::create(&level_log::on_level, &log));
  ASSERT_TRUE(test);
  char name[128];
  EXPECT_EQ(test->get_device_count(), 0);
  EXPECT_EQ(test->get_device_name(0, name, sizeof name), -1);
  EXPECT_EQ(test->select_device(0), -1);
  EXPECT_EQ(test->start(), -1);
  EXPECT_EQ(test->stop(), 0);
}

TEST(ProbixUtil, LevelIsTheMeanAbsoluteSample) {
  using probix_internal::mean_abs_level;
  const int16_t mixed[4] = {100, -300, 0, 200};
  EXPECT_EQ(mean_abs_level(mixed, 4), 150);
  const int16_t loudest[2] = {-32768, -32768};
  EXPECT_EQ(mean_abs_level(loudest, 2), 32767);
  EXPECT_EQ(mean_abs_level(nullptr, 4), 0);
  EXPECT_EQ(mean_abs_level(mixed, 0), 0);
}

}  // namespace

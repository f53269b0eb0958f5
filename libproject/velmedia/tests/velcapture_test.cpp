#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include "velmedia/velcapture.h"

namespace {

constexpr auto kWait = std::chrono::seconds(30);

// Records what arrives and whether anything arrives after the owner said it closed.
class frame_sink : public velcapture_data_callback {
public:
  void on_capture_data(const uint8_t* i420, unsigned length, int width, int height) override {
    uint64_t sum = 1469598103934665603ull;  // FNV-1a over the whole picture
    for (unsigned i = 0; i < length; ++i)
      sum = (sum ^ i420[i]) * 1099511628211ull;
    std::lock_guard<std::mutex> lock(mutex);
    if (closed)
      late = true;
    if (length != velmedia_i420_size(width, height))
      bad_length = true;
    checksums.push_back(sum);
    last_width = width;
    last_height = height;
    if (inside)
      inside(this);
    arrived.notify_all();
  }

  bool wait_frames(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, kWait, [&] { return checksums.size() >= count; });
  }

  void mark_closed() {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
  }

  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<uint64_t> checksums;
  int last_width = 0, last_height = 0;
  bool closed = false, late = false, bad_length = false;
  std::function<void(frame_sink*)> inside;  // runs on the capture thread, under `mutex`
};

class VelcaptureTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("TAV_FAKE_CAMERA", "1", 1);
    capture.reset(velcapture::create());
    ASSERT_TRUE(capture);
    fake = capture->get_device_count() - 1;  // listed after the machine's cameras
    ASSERT_GE(fake, 0);
  }
  void TearDown() override { unsetenv("TAV_FAKE_CAMERA"); }

  std::unique_ptr<velcapture> capture;
  int fake = -1;
};

TEST_F(VelcaptureTest, SyntheticCameraIsListedOnlyWhenAskedFor) {
  char name[velmedia_name_size];
  ASSERT_EQ(capture->get_device_name(fake, name), 0);
  EXPECT_STREQ(name, "虚拟摄像头 (测试)");

  unsetenv("TAV_FAKE_CAMERA");
  EXPECT_EQ(capture->get_device_count(), fake);
  setenv("TAV_FAKE_CAMERA", "0", 1);
  EXPECT_EQ(capture->get_device_count(), fake);
}

TEST_F(VelcaptureTest, RefusesBadArguments) {
  char name[velmedia_name_size];
  frame_sink sink;
  int w = 320, h = 240, fps = 15;
  EXPECT_EQ(capture->get_device_name(-1, name), -1);
  EXPECT_EQ(capture->get_device_name(fake + 1, name), -1);
  EXPECT_EQ(capture->get_device_name(fake, nullptr), -1);
  EXPECT_EQ(capture->open(fake + 1, &w, &h, &fps, &sink), -1);
  EXPECT_EQ(capture->open(-1, &w, &h, &fps, &sink), -1);
  EXPECT_EQ(capture->open(fake, nullptr, &h, &fps, &sink), -1);
  EXPECT_EQ(capture->open(fake, &w, &h, nullptr, &sink), -1);
  EXPECT_EQ(capture->open(fake, &w, &h, &fps, nullptr), -1);
  EXPECT_EQ(capture->close(), 0);  // not open
}

TEST_F(VelcaptureTest, DeliversChangingI420PicturesUntilClosed) {
  frame_sink sink;
  int w = 320, h = 240, fps = 30;
  ASSERT_EQ(capture->open(fake, &w, &h, &fps, &sink), 0);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  EXPECT_EQ(fps, 30);

  int w2 = 320, h2 = 240, fps2 = 30;
  EXPECT_EQ(capture->open(fake, &w2, &h2, &fps2, &sink), -1);  // one camera at a time

  ASSERT_TRUE(sink.wait_frames(4));
  EXPECT_EQ(capture->close(), 0);
  sink.mark_closed();
  EXPECT_EQ(capture->close(), 0);

  std::lock_guard<std::mutex> lock(sink.mutex);
  EXPECT_FALSE(sink.late);
  EXPECT_FALSE(sink.bad_length);
  EXPECT_EQ(sink.last_width, 320);
  EXPECT_EQ(sink.last_height, 240);
  // The moving test picture differs from frame to frame.
  const std::set<uint64_t> distinct(sink.checksums.begin(), sink.checksums.end());
  EXPECT_GE(distinct.size(), 3u);
}

TEST_F(VelcaptureTest, ReopensWithAnotherSizeAndMakesOddSizesEven) {
  {
    frame_sink sink;
    int w = 160, h = 120, fps = 30;
    ASSERT_EQ(capture->open(fake, &w, &h, &fps, &sink), 0);
    ASSERT_TRUE(sink.wait_frames(1));
    ASSERT_EQ(capture->close(), 0);
  }
  frame_sink sink;
  int w = 175, h = 97, fps = 30;
  ASSERT_EQ(capture->open(fake, &w, &h, &fps, &sink), 0);
  EXPECT_EQ(w % 2, 0);
  EXPECT_EQ(h % 2, 0);
  ASSERT_TRUE(sink.wait_frames(2));
  ASSERT_EQ(capture->close(), 0);
  std::lock_guard<std::mutex> lock(sink.mutex);
  EXPECT_EQ(sink.last_width, w);
  EXPECT_EQ(sink.last_height, h);
  EXPECT_FALSE(sink.bad_length);
}

TEST_F(VelcaptureTest, CloseInsideTheCallbackIsRefusedAndDeleteJoins) {
  frame_sink sink;
  int refused = 0;
  velcapture* raw = capture.get();
  sink.inside = [&](frame_sink*) { refused = raw->close(); };
  int w = 160, h = 120, fps = 30;
  ASSERT_EQ(capture->open(fake, &w, &h, &fps, &sink), 0);
  ASSERT_TRUE(sink.wait_frames(2));
  capture.reset();  // deleting an open capture closes it
  sink.mark_closed();
  std::lock_guard<std::mutex> lock(sink.mutex);
  EXPECT_EQ(refused, -1);
  EXPECT_FALSE(sink.late);
}

}  // namespace

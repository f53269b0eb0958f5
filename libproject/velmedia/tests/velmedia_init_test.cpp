#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "device_name.h"
#include "velmedia/velmedia.h"

namespace {

TEST(VelmediaInit, IsCountedAndRefusesAnUnmatchedDestroy) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  EXPECT_EQ(velmedia_destroy(), -1);
  ASSERT_EQ(velmedia_init(), 0);
  ASSERT_EQ(velmedia_init(), 0);
  EXPECT_EQ(velmedia_destroy(), 0);
  // Still up for the second init: devices can be made and listed.
  velaudio_device* device = velaudio_device::create();
  ASSERT_NE(device, nullptr);
  EXPECT_GE(device->get_speaker_count(), 0);
  delete device;
  EXPECT_EQ(velmedia_destroy(), 0);
  EXPECT_EQ(velmedia_destroy(), -1);
}

TEST(VelmediaInit, ConcurrentInitsAndDevicesBalance) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        if (velmedia_init() != 0)
          ++failures;
        velaudio_device* device = velaudio_device::create();
        if (!device || device->get_microphone_count() < 0)
          ++failures;
        delete device;
        if (velmedia_destroy() != 0)
          ++failures;
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(velmedia_destroy(), -1);
}

TEST(DeviceName, IsCutAtACharacterBoundary) {
  using velmedia_internal::copy_device_name;
  char out[8];
  ASSERT_EQ(copy_device_name("虚拟摄像头", out, 8), 0);  // 3 bytes a character
  EXPECT_STREQ(out, "虚拟");
  ASSERT_EQ(copy_device_name("abcdefghij", out, 8), 0);
  EXPECT_STREQ(out, "abcdefg");
  ASSERT_EQ(copy_device_name("", out, 8), 0);
  EXPECT_STREQ(out, "");
  ASSERT_EQ(copy_device_name("虚", out, 3), 0);  // not even one character fits
  EXPECT_STREQ(out, "");
  EXPECT_EQ(copy_device_name("x", nullptr, 8), -1);
  EXPECT_EQ(copy_device_name("x", out, 0), -1);
}

}  // namespace

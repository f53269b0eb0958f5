// Recording the synthetic microphone into clip files.
#include <gtest/gtest.h>

#include <memory>

#include "clip_format.h"
#include "clip_recorder.h"
#include "clip_test_support.h"
#include "eventually.h"
#include "velmedia/velsample_encode.h"

namespace {

using namespace vocalia_internal;
using namespace cliptest;
using testsupport::eventually;

clip_index parsed(const std::vector<uint8_t>& bytes) {
  clip_index index;
  EXPECT_TRUE(parse_clip(bytes.data(), bytes.size(), &index));
  return index;
}

TEST(ClipRecord, ThreeSecondsOfTheSyntheticMicrophone) {
  const int mic = fake_microphone_index();
  ASSERT_GE(mic, 0);
  const std::string path = work_path("three.qn");
  std::unique_ptr<clip_recorder> recorder =
      clip_recorder::open(path.c_str(), static_cast<unsigned short>(mic), 150);
  ASSERT_NE(recorder, nullptr);

  // Frames reach the file while recording goes on; the header says 0 until the end.
  ASSERT_TRUE(eventually([&] { return parsed(read_bytes(path)).frames.size() >= 10; }));
  EXPECT_EQ(parsed(read_bytes(path)).header_seconds, 0u);

  ASSERT_TRUE(eventually([&] { return recorder->frames_written() == 150; }));
  recorder.reset();

  const std::vector<uint8_t> bytes = read_bytes(path);
  const clip_index index = parsed(bytes);
  EXPECT_EQ(index.header_seconds, 3u);
  EXPECT_EQ(index.frames.size(), 150u);
  EXPECT_TRUE(index.complete);
  for (const clip_frame& frame : index.frames)
    EXPECT_LE(frame.length, velsample_max_frame);

  // The microphone's tone, 20 ms per frame.
  const std::vector<float> pcm = decode_clip(bytes, index);
  EXPECT_EQ(pcm.size(), 150u * 960u);
  const std::vector<float> steady(pcm.begin() + 4800, pcm.end());
  EXPECT_GT(tone_power(steady, mic_tone_hz), 20 * tone_power(steady, 1000));
  EXPECT_GT(tone_power(steady, mic_tone_hz), 20 * tone_power(steady, 300));
  EXPECT_GT(tone_power(steady, mic_tone_hz), 1e-4);
}

TEST(ClipRecord, ThroughTheInterfaceTheLengthMatchesTheFrames) {
  const int mic = fake_microphone_index();
  ASSERT_GE(mic, 0);
  const std::string path = work_path("interface.qn");
  write_bytes(path, std::vector<uint8_t>(5000, 0xaa));  // truncated by the recorder
  libvocalia_record* recorder =
      libvocalia_record::create(path.c_str(), static_cast<unsigned short>(mic));
  ASSERT_NE(recorder, nullptr);
  ASSERT_TRUE(eventually([&] { return parsed(read_bytes(path)).frames.size() >= 60; }));
  recorder->release(1);

  const clip_index index = parsed(read_bytes(path));
  EXPECT_TRUE(index.complete);
  EXPECT_GE(index.frames.size(), 60u);
  EXPECT_EQ(index.header_seconds, seconds_for_frames(index.frames.size()));
}

TEST(ClipRecord, RefusedWithoutAFileOrAMicrophone) {
  const int mic = fake_microphone_index();
  ASSERT_GE(mic, 0);
  EXPECT_EQ(libvocalia_record::create(work_path("no/such/folder/x.qn").c_str(),
                                      static_cast<unsigned short>(mic)),
            nullptr);
  EXPECT_EQ(libvocalia_record::create(nullptr, static_cast<unsigned short>(mic)), nullptr);
  // A microphone that is not there leaves no file behind.
  const std::string path = work_path("nomic.qn");
  EXPECT_EQ(libvocalia_record::create(path.c_str(), 999), nullptr);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace

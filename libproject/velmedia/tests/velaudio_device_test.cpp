#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "velmedia/velaudio_device.h"

namespace {

constexpr auto kWait = std::chrono::seconds(30);

// Keeps the format and level of every block, and notes blocks after the owner stopped.
class recording_transport : public velAudioTransport {
public:
  int recorded_data_available(const void* samples, unsigned sample_count, unsigned bytes_per_sample,
                              unsigned channels, unsigned sample_rate) override {
    const auto* pcm = static_cast<const int16_t*>(samples);
    double sum = 0;
    for (unsigned i = 0; i < sample_count * channels; ++i)
      sum += std::abs(static_cast<int>(pcm[i]));
    std::lock_guard<std::mutex> lock(mutex);
    if (stopped)
      late = true;
    ++blocks;
    frames = sample_count;
    bytes = bytes_per_sample;
    this->channels = channels;
    rate = sample_rate;
    level = sample_count ? sum / (sample_count * channels) : 0;
    if (inside)
      inside();
    arrived.notify_all();
    return 0;
  }
  int need_more_play_data(unsigned, unsigned, unsigned, unsigned, void*, unsigned*) override {
    return 0;
  }

  bool wait_blocks(int count) {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, kWait, [&] { return blocks >= count; });
  }
  void mark_stopped() {
    std::lock_guard<std::mutex> lock(mutex);
    stopped = true;
  }

  std::mutex mutex;
  std::condition_variable arrived;
  int blocks = 0;
  unsigned frames = 0, bytes = 0, channels = 0, rate = 0;
  double level = -1;
  bool stopped = false, late = false;
  std::function<void()> inside;  // runs on the device thread, under `mutex`
};

// Files go to the test's own home folder, which CTest points into the build tree.
std::string temp_path(const std::string& name) {
  const char* home = std::getenv("HOME");
  const std::filesystem::path folder =
      std::filesystem::path(home && *home ? home : "/tmp") / "velmedia_test";
  std::filesystem::create_directories(folder);
  return (folder / name).string();
}

void put_le(std::string* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A mono 16-bit WAV at `rate` Hz; silent unless `amplitude` is given (a 1 kHz tone).
std::string write_wav(const std::string& name, unsigned rate, unsigned frames, int amplitude) {
  std::string data;
  for (unsigned i = 0; i < frames; ++i) {
    const double value = amplitude * std::sin(2 * 3.14159265358979 * 1000.0 * i / rate);
    put_le(&data, static_cast<uint16_t>(static_cast<int16_t>(std::lround(value))), 2);
  }
  std::string file = "RIFF";
  put_le(&file, static_cast<uint32_t>(36 + data.size()), 4);
  file += "WAVEfmt ";
  put_le(&file, 16, 4);
  put_le(&file, 1, 2);  // PCM
  put_le(&file, 1, 2);  // mono
  put_le(&file, rate, 4);
  put_le(&file, rate * 2, 4);
  put_le(&file, 2, 2);
  put_le(&file, 16, 2);
  file += "data";
  put_le(&file, static_cast<uint32_t>(data.size()), 4);
  file += data;
  const std::string path = temp_path(name);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f) {
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }
  return path;
}

class VelaudioDeviceTest : public ::testing::Test {
protected:
  void SetUp() override {
    // Never the real sound system. SDL picks its driver when audio starts, and audio stops
    // with the last device object, so each test's driver choice holds.
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("TAV_FAKE_MICROPHONE", "1", 1);
    unsetenv("TAV_FAKE_MICROPHONE_WAV");
  }
  void TearDown() override {
    device.reset();
    unsetenv("TAV_FAKE_MICROPHONE");
    unsetenv("TAV_FAKE_MICROPHONE_WAV");
    setenv("SDL_AUDIODRIVER", "dummy", 1);
  }

  // Creates the device and selects the synthetic microphone (listed last).
  void use_fake_microphone() {
    device.reset(velaudio_device::create());
    ASSERT_TRUE(device);
    const int count = device->get_microphone_count();
    ASSERT_GE(count, 1);
    char name[velmedia_name_size];
    ASSERT_EQ(device->get_microphone_name(count - 1, name), 0);
    ASSERT_STREQ(name, "虚拟麦克风 (测试)");
    ASSERT_EQ(device->select_microphone(count - 1), 0);
  }

  std::unique_ptr<velaudio_device> device;
};

TEST_F(VelaudioDeviceTest, ListsAndRefusesBadArguments) {
  device.reset(velaudio_device::create());
  ASSERT_TRUE(device);
  const int microphones = device->get_microphone_count();
  const int speakers = device->get_speaker_count();
  ASSERT_GE(microphones, 1);
  ASSERT_GE(speakers, 0);
  char name[velmedia_name_size];
  for (int i = 0; i < speakers; ++i)
    EXPECT_EQ(device->get_speaker_name(i, name), 0);
  EXPECT_EQ(device->get_speaker_name(speakers, name), -1);
  EXPECT_EQ(device->get_speaker_name(-1, name), -1);
  EXPECT_EQ(device->get_microphone_name(microphones, name), -1);
  EXPECT_EQ(device->get_microphone_name(0, nullptr), -1);
  EXPECT_EQ(device->select_microphone(microphones), -1);
  EXPECT_EQ(device->select_microphone(-1), -1);
  EXPECT_EQ(device->stop_recording(), 0);  // not recording

  unsetenv("TAV_FAKE_MICROPHONE");
  EXPECT_EQ(device->get_microphone_count(), microphones - 1);
}

TEST_F(VelaudioDeviceTest, SyntheticToneArrivesIn10msBlocksUntilStopped) {
  use_fake_microphone();
  recording_transport transport;
  ASSERT_EQ(device->set_transport(&transport), 0);
  ASSERT_EQ(device->start_recording(), 0);
  EXPECT_EQ(device->start_recording(), 0);  // already recording
  ASSERT_TRUE(transport.wait_blocks(5));
  ASSERT_EQ(device->stop_recording(), 0);
  transport.mark_stopped();
  EXPECT_EQ(device->stop_recording(), 0);

  std::lock_guard<std::mutex> lock(transport.mutex);
  EXPECT_FALSE(transport.late);
  EXPECT_EQ(transport.bytes, 2u);
  EXPECT_EQ(transport.channels, 2u);
  EXPECT_EQ(transport.rate, 48000u);
  EXPECT_EQ(transport.frames, 480u);
  // A sine of peak 8000 averages 8000 * 2 / pi in absolute value.
  EXPECT_NEAR(transport.level, 5093, 300);
}

TEST_F(VelaudioDeviceTest, WavFilesAreConvertedAndMissingOnesRefused) {
  setenv("TAV_FAKE_MICROPHONE_WAV", write_wav("velaudio_tone.wav", 22050, 22050, 16000).c_str(), 1);
  use_fake_microphone();
  recording_transport tone;
  device->set_transport(&tone);
  ASSERT_EQ(device->start_recording(), 0);
  ASSERT_TRUE(tone.wait_blocks(3));
  ASSERT_EQ(device->stop_recording(), 0);
  {
    std::lock_guard<std::mutex> lock(tone.mutex);
    EXPECT_EQ(tone.rate, 48000u);
    EXPECT_EQ(tone.channels, 2u);
    EXPECT_GT(tone.level, 5000);
  }

  setenv("TAV_FAKE_MICROPHONE_WAV", write_wav("velaudio_silence.wav", 16000, 800, 0).c_str(), 1);
  recording_transport silence;
  device->set_transport(&silence);
  ASSERT_EQ(device->start_recording(), 0);
  ASSERT_TRUE(silence.wait_blocks(3));
  ASSERT_EQ(device->stop_recording(), 0);
  {
    std::lock_guard<std::mutex> lock(silence.mutex);
    EXPECT_LT(silence.level, 1.0);
  }

  setenv("TAV_FAKE_MICROPHONE_WAV", temp_path("no_such_file.wav").c_str(), 1);
  EXPECT_EQ(device->start_recording(), -1);
  const std::string junk = temp_path("velaudio_junk.wav");
  FILE* f = std::fopen(junk.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fputs("RIFF\x10\0\0\0WAVEjunk", f);
  std::fclose(f);
  setenv("TAV_FAKE_MICROPHONE_WAV", junk.c_str(), 1);
  EXPECT_EQ(device->start_recording(), -1);
}

TEST_F(VelaudioDeviceTest, TransportMayDetachItselfButNotStopTheDevice) {
  use_fake_microphone();
  recording_transport transport;
  int stop_result = 0;
  velaudio_device* raw = device.get();
  transport.inside = [&] {
    stop_result = raw->stop_recording();
    raw->set_transport(nullptr);
  };
  device->set_transport(&transport);
  ASSERT_EQ(device->start_recording(), 0);
  ASSERT_TRUE(transport.wait_blocks(1));
  ASSERT_EQ(device->stop_recording(), 0);
  std::lock_guard<std::mutex> lock(transport.mutex);
  EXPECT_EQ(stop_result, -1);
  EXPECT_EQ(transport.blocks, 1);  // detached after the first block
}

TEST_F(VelaudioDeviceTest, DeletingWhileRecordingStopsFirst) {
  use_fake_microphone();
  recording_transport transport;
  device->set_transport(&transport);
  ASSERT_EQ(device->start_recording(), 0);
  ASSERT_TRUE(transport.wait_blocks(2));
  device.reset();
  transport.mark_stopped();
  std::lock_guard<std::mutex> lock(transport.mutex);
  EXPECT_FALSE(transport.late);
}

// SDL's own capture path: the dummy driver records silence, the disk driver records a file.
TEST_F(VelaudioDeviceTest, SdlMicrophonesRecordThroughTheSameBlocks) {
  unsetenv("TAV_FAKE_MICROPHONE");
  device.reset(velaudio_device::create());
  ASSERT_TRUE(device);
  if (device->get_microphone_count() == 0)
    GTEST_SKIP() << "this SDL's dummy driver lists no capture device";
  recording_transport dummy;
  device->set_transport(&dummy);
  ASSERT_EQ(device->select_microphone(0), 0);
  ASSERT_EQ(device->start_recording(), 0);
  ASSERT_TRUE(dummy.wait_blocks(3));
  ASSERT_EQ(device->stop_recording(), 0);
  dummy.mark_stopped();
  {
    std::lock_guard<std::mutex> lock(dummy.mutex);
    EXPECT_FALSE(dummy.late);
    EXPECT_EQ(dummy.frames, 480u);
    EXPECT_EQ(dummy.channels, 2u);
    EXPECT_LT(dummy.level, 1.0);
  }
  device.reset();

  // Two seconds of a loud square wave, raw 48 kHz stereo 16-bit as the device is opened.
  const std::string raw = temp_path("velaudio_in.raw");
  FILE* f = std::fopen(raw.c_str(), "wb");
  ASSERT_TRUE(f);
  for (int i = 0; i < 96000; ++i) {
    const int16_t value = (i / 24) % 2 ? 10000 : -10000;
    const int16_t frame[2] = {value, value};
    std::fwrite(frame, sizeof frame, 1, f);
  }
  std::fclose(f);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILEIN", raw.c_str(), 1);
  setenv("SDL_DISKAUDIOFILE", temp_path("velaudio_out.raw").c_str(), 1);
  device.reset(velaudio_device::create());
  ASSERT_TRUE(device);
  ASSERT_GE(device->get_microphone_count(), 1);
  recording_transport disk;
  device->set_transport(&disk);
  ASSERT_EQ(device->start_recording(), 0);
  ASSERT_TRUE(disk.wait_blocks(3));
  ASSERT_EQ(device->stop_recording(), 0);
  std::lock_guard<std::mutex> lock(disk.mutex);
  EXPECT_NEAR(disk.level, 10000, 100);
}

}  // namespace

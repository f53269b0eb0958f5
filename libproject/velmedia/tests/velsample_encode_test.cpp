#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include <opus.h>

#include "velmedia/velaudio_device.h"
#include "velmedia/velsample_encode.h"

namespace {

constexpr auto kWait = std::chrono::seconds(30);

struct collected {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint32_t> timestamps;

  static void callback(const uint8_t* data, unsigned length, uint32_t timestamp, void* user) {
    auto* self = static_cast<collected*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->frames.emplace_back(data, data + length);
    self->timestamps.push_back(timestamp);
    self->arrived.notify_all();
  }
  bool wait_frames(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, kWait, [&] { return frames.size() >= count; });
  }
};

struct encoder_closer {
  void operator()(velsample_encoder* e) const { velsample_encode_close(e); }
};
using encoder_ptr = std::unique_ptr<velsample_encoder, encoder_closer>;

// Goertzel power of `frequency` in a mono signal, normalised by its length.
double tone_power(const std::vector<float>& x, double frequency, double rate) {
  const double k = 2 * std::cos(2 * M_PI * frequency / rate);
  double s1 = 0, s2 = 0;
  for (float v : x) {
    const double s0 = v + k * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return (s1 * s1 + s2 * s2 - k * s1 * s2) / (static_cast<double>(x.size()) * x.size());
}

TEST(VelsampleEncode, RefusesBadArguments) {
  collected out;
  EXPECT_EQ(velsample_encode_open(3, 48000, 48000, &collected::callback, 0, &out, false), nullptr);
  EXPECT_EQ(velsample_encode_open(2, 44100, 48000, &collected::callback, 0, &out, false), nullptr);
  EXPECT_EQ(velsample_encode_open(2, 48000, 100, &collected::callback, 0, &out, false), nullptr);
  EXPECT_EQ(velsample_encode_open(2, 48000, 48000, nullptr, 0, &out, false), nullptr);
  EXPECT_EQ(velsample_encode_feed(nullptr, nullptr, 0), -1);
  EXPECT_EQ(velsample_encode_close(nullptr), 0);
}

TEST(VelsampleEncode, FedPcmComesOutAsTimedOpusFramesThatDecodeToTheSameTone) {
  collected out;
  encoder_ptr encoder(velsample_encode_open(2, 48000, 48000, &collected::callback, 0, &out, false));
  ASSERT_NE(encoder, nullptr);
  // 1 s of a 1 kHz tone in uneven pieces: only whole 20 ms frames come out.
  std::vector<int16_t> pcm(48000 * 2);
  for (int i = 0; i < 48000; ++i)
    pcm[2 * i] = pcm[2 * i + 1] =
        static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000 * i / 48000.0));
  const unsigned pieces[] = {100, 1000, 7, 2000};
  for (unsigned at = 0, p = 0; at < 48000; ++p) {
    const unsigned n = std::min(pieces[p % 4], 48000 - at);
    ASSERT_EQ(velsample_encode_feed(encoder.get(), pcm.data() + 2 * at, n), 0);
    at += n;
  }
  ASSERT_EQ(out.frames.size(), 50u);
  int error = 0;
  OpusDecoder* decoder = opus_decoder_create(48000, 2, &error);
  std::vector<float> left;
  for (size_t i = 0; i < out.frames.size(); ++i) {
    EXPECT_EQ(out.timestamps[i], 960u * i);
    ASSERT_LE(out.frames[i].size(), velsample_max_frame);
    std::vector<int16_t> decoded(960 * 2);
    ASSERT_EQ(opus_decode(decoder, out.frames[i].data(), static_cast<int>(out.frames[i].size()),
                          decoded.data(), 960, 0),
              960);
    if (i >= 10)
      for (int s = 0; s < 960; ++s)
        left.push_back(decoded[2 * s]);
  }
  opus_decoder_destroy(decoder);
  EXPECT_GT(tone_power(left, 1000, 48000), 100 * tone_power(left, 440, 48000));
}

TEST(VelsampleEncode, MonoAtALowerRateUsesItsOwnFrameLength) {
  collected out;
  encoder_ptr encoder(velsample_encode_open(1, 16000, 24000, &collected::callback, 0, &out, false));
  ASSERT_NE(encoder, nullptr);
  std::vector<int16_t> pcm(16000, 0);
  ASSERT_EQ(velsample_encode_feed(encoder.get(), pcm.data(), 16000), 0);
  ASSERT_EQ(out.frames.size(), 50u);
  EXPECT_EQ(out.timestamps[1], 320u);
}

TEST(VelsampleEncode, CapturesTheSyntheticMicrophoneUntilClosed) {
  std::unique_ptr<velaudio_device> device(velaudio_device::create());
  ASSERT_NE(device, nullptr);
  const int synthetic = device->get_microphone_count() - 1;  // listed after the real ones
  ASSERT_GE(synthetic, 0);
  collected out;
  encoder_ptr encoder(
      velsample_encode_open(2, 48000, 48000, &collected::callback, synthetic, &out, true));
  ASSERT_NE(encoder, nullptr);
  // A capturing encoder takes no fed PCM.
  int16_t pcm[2] = {0, 0};
  EXPECT_EQ(velsample_encode_feed(encoder.get(), pcm, 1), -1);
  ASSERT_TRUE(out.wait_frames(10));
  encoder.reset();
  std::lock_guard<std::mutex> lock(out.mutex);
  const size_t after_close = out.frames.size();
  for (size_t i = 0; i < after_close; ++i)
    EXPECT_EQ(out.timestamps[i], 960u * i);
  EXPECT_EQ(velsample_encode_open(2, 48000, 48000, &collected::callback, synthetic + 1, &out, true),
            nullptr);
}

// Counts playout requests; the speaker asks for 16-bit stereo at 48 kHz.
class playout_counter : public velAudioTransport {
public:
  int recorded_data_available(const void*, unsigned, unsigned, unsigned, unsigned) override {
    return 0;
  }
  int need_more_play_data(unsigned sample_count, unsigned bytes_per_sample, unsigned channels,
                          unsigned sample_rate, void*, unsigned* samples_out) override {
    std::lock_guard<std::mutex> lock(mutex);
    ++requests;
    format_ok = format_ok && bytes_per_sample == 2 && channels == 2 && sample_rate == 48000 &&
                sample_count > 0;
    *samples_out = 0;
    if (stopped)
      late = true;
    asked.notify_all();
    return 0;
  }
  std::mutex mutex;
  std::condition_variable asked;
  int requests = 0;
  bool format_ok = true, stopped = false, late = false;
};

TEST(VelaudioDevicePlayout, TheSpeakerPullsFromTheTransportUntilStopped) {
  std::unique_ptr<velaudio_device> device(velaudio_device::create());
  ASSERT_NE(device, nullptr);
  playout_counter transport;
  device->set_transport(&transport);
  EXPECT_EQ(device->select_speaker(-1), -1);
  ASSERT_EQ(device->select_speaker(0), 0);
  ASSERT_EQ(device->start_playout(), 0);
  EXPECT_EQ(device->start_playout(), 0);  // already playing
  {
    std::unique_lock<std::mutex> lock(transport.mutex);
    ASSERT_TRUE(transport.asked.wait_for(lock, kWait, [&] { return transport.requests >= 3; }));
  }
  ASSERT_EQ(device->stop_playout(), 0);
  {
    std::lock_guard<std::mutex> lock(transport.mutex);
    transport.stopped = true;
    EXPECT_TRUE(transport.format_ok);
  }
  device.reset();
  EXPECT_FALSE(transport.late);
}

}  // namespace

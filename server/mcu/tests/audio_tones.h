// Test helpers for the room audio: tones, their Goertzel power, and Opus frames.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include <opus.h>

namespace audio_test {

constexpr double pi = 3.14159265358979323846;

// Power of `frequency` in `x` (mono, `rate` Hz), normalised by the length.
inline double goertzel(const std::vector<float>& x, double frequency, double rate = 48000) {
  if (x.empty())
    return 0;
  const double k = 2 * std::cos(2 * pi * frequency / rate);
  double s1 = 0, s2 = 0;
  for (float v : x) {
    const double s0 = v + k * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double n = static_cast<double>(x.size());
  return (s1 * s1 + s2 * s2 - k * s1 * s2) / (n * n);
}

// Mean Goertzel power of `frequency` over 50 ms windows: a playout that splices or drops a
// few milliseconds shifts the phase, which a single long window would count as lost energy.
inline double tone_level(const std::vector<float>& x, double frequency, double rate = 48000) {
  const std::size_t window = static_cast<std::size_t>(rate / 20);
  double sum = 0;
  std::size_t count = 0;
  for (std::size_t at = 0; at + window <= x.size(); at += window, ++count)
    sum += goertzel(std::vector<float>(x.begin() + at, x.begin() + at + window), frequency, rate);
  return count ? sum / count : 0;
}

// Encodes a steady stereo tone, 20 ms at a time.
class tone_encoder {
public:
  tone_encoder(double frequency, double amplitude) : frequency_(frequency), amplitude_(amplitude) {
    int error = 0;
    encoder_ = opus_encoder_create(48000, 2, OPUS_APPLICATION_VOIP, &error);
    opus_encoder_ctl(encoder_, OPUS_SET_BITRATE(48000));
  }
  ~tone_encoder() { opus_encoder_destroy(encoder_); }
  tone_encoder(const tone_encoder&) = delete;
  tone_encoder& operator=(const tone_encoder&) = delete;

  std::vector<uint8_t> next() {
    std::vector<int16_t> pcm(960 * 2);
    for (int i = 0; i < 960; ++i, ++n_)
      pcm[2 * i] = pcm[2 * i + 1] =
          static_cast<int16_t>(amplitude_ * std::sin(2 * pi * frequency_ * n_ / 48000.0));
    uint8_t packet[400];
    const int size = opus_encode(encoder_, pcm.data(), 960, packet, sizeof packet);
    return std::vector<uint8_t>(packet, packet + (size > 0 ? size : 0));
  }

private:
  double frequency_, amplitude_;
  long n_ = 0;
  OpusEncoder* encoder_ = nullptr;
};

// Decodes a stream's frames into the left channel.
class stream_decoder {
public:
  stream_decoder() {
    int error = 0;
    decoder_ = opus_decoder_create(48000, 2, &error);
  }
  ~stream_decoder() { opus_decoder_destroy(decoder_); }
  stream_decoder(const stream_decoder&) = delete;
  stream_decoder& operator=(const stream_decoder&) = delete;

  bool decode(const uint8_t* data, unsigned length, std::vector<float>* left) {
    std::vector<int16_t> pcm(5760 * 2);
    const int frames =
        opus_decode(decoder_, data, static_cast<opus_int32>(length), pcm.data(), 5760, 0);
    if (frames <= 0)
      return false;
    for (int i = 0; i < frames; ++i)
      left->push_back(pcm[2 * i]);
    return true;
  }

private:
  OpusDecoder* decoder_ = nullptr;
};

}  // namespace audio_test

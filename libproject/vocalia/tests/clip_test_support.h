// Helpers of the clip tests: files, tones, Goertzel, a progress recorder.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <opus.h>

#include "clip_format.h"
#include "velmedia/velaudio_device.h"
#include "vocalia/vocalia.h"

namespace cliptest {

// A folder of this test run's files.
inline std::string work_path(const std::string& name) {
  static const std::filesystem::path dir = [] {
    const char* home = std::getenv("HOME");
    std::filesystem::path base =
        home && *home ? std::filesystem::path(home) : std::filesystem::temp_directory_path();
    // Cleared at the start of a run; what the last run left stays for a look after a failure.
    std::filesystem::path d = base / "vocalia_clips";
    std::error_code ec;
    std::filesystem::remove_all(d, ec);
    std::filesystem::create_directories(d);
    return d;
  }();
  return (dir / name).string();
}

inline std::vector<uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline std::uintmax_t file_size(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

// Index of the synthetic microphone in the device list, -1 when not listed.
inline int fake_microphone_index() {
  velaudio_device* device = velaudio_device::create();
  if (!device)
    return -1;
  int found = -1;
  char name[velmedia_name_size];
  for (int i = 0; i < device->get_microphone_count(); ++i)
    if (device->get_microphone_name(i, name) == 0 && std::string(name) == "虚拟麦克风 (测试)")
      found = i;
  delete device;
  return found;
}

// The synthetic microphone's tone.
constexpr double mic_tone_hz = 440.0;

// Goertzel power of `frequency` in a mono signal, normalised by its length.
inline double tone_power(const std::vector<float>& x, double frequency, double rate = 48000) {
  if (x.empty())
    return 0;
  const double k = 2 * std::cos(2 * M_PI * frequency / rate);
  double s1 = 0, s2 = 0;
  for (float v : x) {
    const double s0 = v + k * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return (s1 * s1 + s2 * s2 - k * s1 * s2) / (static_cast<double>(x.size()) * x.size());
}

// The left channel of SDL's raw disk output (16-bit stereo) from byte `from` on.
inline std::vector<float> left_channel(const std::vector<uint8_t>& raw, std::size_t from = 0) {
  std::vector<float> out;
  for (std::size_t at = from & ~std::size_t{3}; at + 4 <= raw.size(); at += 4)
    out.push_back(static_cast<int16_t>(raw[at] | (raw[at + 1] << 8)) / 32768.0f);
  return out;
}

// `count` 20 ms Opus frames (48 kHz mono) of a tone of `hz`.
inline std::vector<std::vector<uint8_t>> tone_frames(double hz, int count) {
  int error = 0;
  OpusEncoder* encoder = opus_encoder_create(48000, 1, OPUS_APPLICATION_VOIP, &error);
  std::vector<std::vector<uint8_t>> frames;
  std::vector<int16_t> pcm(960);
  for (int f = 0; f < count; ++f) {
    for (int i = 0; i < 960; ++i)
      pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * hz * (f * 960 + i) / 48000.0));
    uint8_t packet[400];
    const int size = opus_encode(encoder, pcm.data(), 960, packet, sizeof packet);
    frames.emplace_back(packet, packet + (size > 0 ? size : 0));
  }
  opus_encoder_destroy(encoder);
  return frames;
}

// A clip file's bytes: header saying `seconds`, then the frames.
inline std::vector<uint8_t> clip_bytes(uint32_t seconds,
                                       const std::vector<std::vector<uint8_t>>& frames) {
  std::vector<uint8_t> bytes(vocalia_header_size);
  vocalia_internal::make_header(seconds, bytes.data());
  for (const auto& frame : frames) {
    bytes.push_back(static_cast<uint8_t>(frame.size() >> 8));
    bytes.push_back(static_cast<uint8_t>(frame.size()));
    bytes.insert(bytes.end(), frame.begin(), frame.end());
  }
  return bytes;
}

// Decodes a clip's frames to mono samples.
inline std::vector<float> decode_clip(const std::vector<uint8_t>& bytes,
                                      const vocalia_internal::clip_index& index) {
  int error = 0;
  OpusDecoder* decoder = opus_decoder_create(48000, 1, &error);
  std::vector<float> out;
  std::vector<int16_t> pcm(5760);
  for (const auto& frame : index.frames) {
    const int n =
        opus_decode(decoder, bytes.data() + frame.offset, frame.length, pcm.data(), 5760, 0);
    for (int i = 0; i < n; ++i)
      out.push_back(pcm[i] / 32768.0f);
  }
  opus_decoder_destroy(decoder);
  return out;
}

// Keeps every progress report.
class progress_log : public notify_progress2ui {
public:
  void play_progress(unsigned curr, unsigned total) override {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.emplace_back(curr, total);
  }
  std::vector<std::pair<unsigned, unsigned>> reports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }
  std::size_t count() const { return reports().size(); }
  bool has(unsigned curr, unsigned total) const {
    for (const auto& r : reports())
      if (r.first == curr && r.second == total)
        return true;
    return false;
  }

private:
  mutable std::mutex mutex_;
  std::vector<std::pair<unsigned, unsigned>> reports_;
};

// Points SDL's disk output at a fresh file for the next player.
inline std::string disk_output(const std::string& name) {
  const std::string path = work_path(name);
  std::filesystem::remove(path);
  ::setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
  return path;
}

}  // namespace cliptest

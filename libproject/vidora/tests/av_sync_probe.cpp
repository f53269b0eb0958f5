#include "av_sync_probe.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "sync_rules.h"
#include "test_media.h"

namespace vidora_test {

namespace {

constexpr int sample_rate = 48000;
constexpr int channels = 2;
constexpr int bytes_per_frame = channels * 2;

}  // namespace

bool make_flash_beep_file(const std::string& path, int seconds) {
  const std::string beep = "if(lt(mod(t\\,1)\\,0.1)\\,0.8*sin(2*PI*1000*t)\\,0)";
  return ffmpeg(
      "-f lavfi -i \"color=c=black:s=160x120:r=25,format=yuv420p,"
      "geq=lum='if(lt(mod(T\\,1)\\,0.08)\\,235\\,16)':cb=128:cr=128\" "
      "-f lavfi -i \"aevalsrc=" +
          beep + "|" + beep + ":s=48000\" -t " + std::to_string(seconds) +
          " -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 128k",
      path);
}

av_sync_figures measure_av_sync(const std::string& media, const std::string& disk_file) {
  av_sync_figures figures;
  setenv("SDL_DISKAUDIOFILE", disk_file.c_str(), 1);

  std::vector<int64_t> flash_heads;  // play head in sample frames at each flash
  bool bright = false;
  const int64_t buffer_frames = sync_rules::audio_buffer_samples(sample_rate);
  recording_observer observer;
  observer.frame_hook = [&](const unsigned char* rgb, int width, int height) {
    const size_t n = static_cast<size_t>(width) * height * 3;
    uint64_t sum = 0;
    for (size_t i = 0; i < n; i += 3)
      sum += rgb[i + 1];
    const bool now_bright = sum / (n / 3) > 128;
    if (now_bright && !bright) {
      std::error_code ec;
      const auto bytes = std::filesystem::file_size(disk_file, ec);
      if (!ec)
        flash_heads.push_back(static_cast<int64_t>(bytes / bytes_per_frame) - buffer_frames / 2);
    }
    bright = now_bright;
  };
  std::unique_ptr<vidora> player(vidora::create(media.c_str(), &observer, 0));
  player->start();
  figures.ended = observer.wait_until([&] { return observer.ended; });
  player.reset();

  const std::vector<unsigned char> bytes = read_file(disk_file);
  const size_t frames = bytes.size() / bytes_per_frame;
  std::vector<int64_t> onsets;
  int64_t quiet_since = -sample_rate;  // a beep at the very start counts too
  for (size_t i = 0; i < frames; i++) {
    int16_t left;
    std::memcpy(&left, &bytes[i * bytes_per_frame], sizeof(left));
    if (std::abs(left) > 3000) {
      if (static_cast<int64_t>(i) - quiet_since > sample_rate / 2)
        onsets.push_back(static_cast<int64_t>(i));
      quiet_since = static_cast<int64_t>(i);
    }
  }
  figures.flashes = static_cast<int>(flash_heads.size());
  figures.beeps = static_cast<int>(onsets.size());
  for (int64_t head : flash_heads) {
    auto nearest = std::min_element(onsets.begin(), onsets.end(), [&](int64_t a, int64_t b) {
      return std::llabs(a - head) < std::llabs(b - head);
    });
    if (nearest != onsets.end() && std::llabs(*nearest - head) < sample_rate / 2)
      figures.offsets.push_back(static_cast<double>(head - *nearest) / sample_rate);
  }
  return figures;
}

double percentile_abs(std::vector<double> values, double fraction) {
  if (values.empty())
    return NAN;
  for (double& v : values)
    v = std::fabs(v);
  std::sort(values.begin(), values.end());
  const size_t index =
      std::min(values.size() - 1, static_cast<size_t>(std::ceil(fraction * values.size())) - 1);
  return values[index];
}

}  // namespace vidora_test

// bench-player [--sync-seconds N] [--seeks N] [--cpu-seconds N] [--hd-seconds N]
//
// 1. A/V offset: a file with a flash and a beep every second plays to its end with the
//    sound in SDL's disk driver; prints p50/p99/max of |picture - sound| (see
//    av_sync_probe.h for how the sound's play head is read).
// 2. Seek latency: on a 720p H.264+AAC file, from seek() to the first picture reported at
//    the new second; p50/p99.
// 3. CPU: user+system seconds of the player playing the 720p file in real time, against
//    `ffmpeg -re -i FILE -pix_fmt rgb24 -f null -` on the same file.
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "av_sync_probe.h"
#include "test_media.h"

using namespace vidora_test;

namespace {

double cpu_seconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

double now_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Each part: false when it could not measure.
bool print_sync(int seconds, const temp_folder& dir) {
  const std::string file = dir.file("flash_beep.mp4");
  if (!make_flash_beep_file(file, seconds)) {
    std::printf("sync: could not make the test file\n");
    return false;
  }
  const av_sync_figures f = measure_av_sync(file, dir.file("sound.raw"));
  std::printf("sync: %d s file, %d beeps, %d flashes delivered, %zu paired\n", seconds, f.beeps,
              f.flashes, f.offsets.size());
  double mean = 0;
  for (double o : f.offsets)
    mean += o;
  if (!f.offsets.empty())
    mean /= f.offsets.size();
  std::printf("sync: offsets beyond 30 ms (second: ms):");
  for (size_t i = 0; i < f.offsets.size(); i++)
    if (std::fabs(f.offsets[i]) > 0.030)
      std::printf(" %zu:%+.0f", i, f.offsets[i] * 1000);
  std::printf("\n");
  std::printf(
      "sync: |picture - sound| p50 %.1f ms  p99 %.1f ms  max %.1f ms  (mean signed %+.1f ms)\n",
      percentile_abs(f.offsets, 0.5) * 1000, percentile_abs(f.offsets, 0.99) * 1000,
      percentile_abs(f.offsets, 1.0) * 1000, mean * 1000);
  return !f.offsets.empty();
}

struct seek_observer : recording_observer {
  double seek_time = 0;
  int wanted = -1;
  double latency = -1;
  void on_play_progress(int seconds, int total) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (wanted >= 0 && seconds == wanted && latency < 0)
        latency = now_seconds() - seek_time;
    }
    recording_observer::on_play_progress(seconds, total);
  }
};

bool print_seeks(const std::string& file, int duration, int count) {
  // Seeks go by whole percents; only those landing on a whole second after the start and
  // below 90 % are taken, each at least 2 s from where the player is.
  std::vector<int> targets;
  for (int percent = 1; percent < 90; ++percent)
    if ((duration * percent) % 100 == 0)
      targets.push_back(percent);
  seek_observer observer;
  std::unique_ptr<vidora> player(vidora::create(file.c_str(), &observer, 0));
  player->start();
  observer.wait_until([&] { return !observer.progress.empty(); });
  std::mt19937 rng(1);
  std::vector<double> latencies;
  int current = 0;
  for (int i = 0; i < count; i++) {
    std::vector<int> choices;
    for (int percent : targets)
      if (std::abs(duration * percent / 100 - current) >= 2)
        choices.push_back(percent);
    if (choices.empty()) {
      std::printf("seek: a %d s file has no second 2 s away from %d s\n", duration, current);
      break;
    }
    const int percent = choices[rng() % choices.size()];
    const int second = duration * percent / 100;
    {
      std::lock_guard<std::mutex> lock(observer.mutex);
      observer.wanted = second;
      observer.latency = -1;
      observer.seek_time = now_seconds();
    }
    player->seek(percent);
    if (!observer.wait_until([&] { return observer.latency >= 0; })) {
      std::printf("seek: no picture at %d s\n", second);
      break;
    }
    latencies.push_back(observer.latency);
    current = second;
  }
  player.reset();
  std::printf("seek: %zu seeks on a %d s 720p file: p50 %.1f ms  p99 %.1f ms\n", latencies.size(),
              duration, percentile_abs(latencies, 0.5) * 1000,
              percentile_abs(latencies, 0.99) * 1000);
  return latencies.size() == static_cast<std::size_t>(count);
}

// The first `seconds` of the file in real time, by the player and by the ffmpeg tool.
bool print_cpu(const std::string& file, int seconds) {
  const double before = cpu_seconds(RUSAGE_SELF);
  recording_observer observer;
  std::unique_ptr<vidora> player(vidora::create(file.c_str(), &observer, 0));
  player->start();
  const bool played = observer.wait_until([&] {
    return observer.ended ||
           (!observer.progress.empty() && observer.progress.back().seconds >= seconds);
  });
  player.reset();
  const double player_cpu = cpu_seconds(RUSAGE_SELF) - before;
  if (!played || observer.frame_count == 0) {
    std::printf("cpu: the player did not play the file\n");
    return false;
  }

  const double children_before = cpu_seconds(RUSAGE_CHILDREN);
  const std::string command = "ffmpeg -nostdin -v error -re -t " + std::to_string(seconds) +
                              " -i '" + file + "' -pix_fmt rgb24 -f null -";
  if (std::system(command.c_str()) != 0) {
    std::printf("cpu: ffmpeg failed\n");
    return false;
  }
  const double ffmpeg_cpu = cpu_seconds(RUSAGE_CHILDREN) - children_before;
  std::printf("cpu: player %.2f s (%d pictures), ffmpeg -re %.2f s: ratio %.2fx\n", player_cpu,
              observer.frame_count, ffmpeg_cpu, ffmpeg_cpu > 0 ? player_cpu / ffmpeg_cpu : 0.0);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int sync_seconds = 60;
  int seeks = 40;
  int cpu_seconds_long = 20;
  int hd_seconds = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--sync-seconds"))
      sync_seconds = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--seeks"))
      seeks = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--cpu-seconds"))
      cpu_seconds_long = std::max(1, atoi(argv[i + 1]));
    else if (!strcmp(argv[i], "--hd-seconds"))
      hd_seconds = std::max(5, atoi(argv[i + 1]));
  }
  // The sound goes to a file: the figures do not depend on a sound card.
  setenv("SDL_AUDIODRIVER", "disk", 1);
  temp_folder dir;
  bool ok = print_sync(sync_seconds, dir);

  const std::string hd = dir.file("hd.mp4");
  if (!ffmpeg("-f lavfi -i testsrc2=s=1280x720:r=25 -f lavfi -i sine=f=440:r=48000 -t " +
                  std::to_string(std::max(hd_seconds, cpu_seconds_long)) +
                  " -c:v libx264 -preset veryfast -g 25 -pix_fmt yuv420p -c:a aac -ac 2",
              hd)) {
    std::printf("could not make the 720p file\n");
    return 1;
  }
  setenv("SDL_DISKAUDIOFILE", dir.file("seek.raw").c_str(), 1);
  ok = print_seeks(hd, std::max(hd_seconds, cpu_seconds_long), seeks) && ok;
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  ok = print_cpu(hd, cpu_seconds_long) && ok;
  return ok ? 0 : 1;
}

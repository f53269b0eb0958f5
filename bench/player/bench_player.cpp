// bench-player [--sync-seconds N] [--seeks N] [--cpu-seconds N]
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

void print_sync(int seconds, const temp_folder& dir) {
  const std::string file = dir.file("flash_beep.mp4");
  if (!make_flash_beep_file(file, seconds)) {
    std::printf("sync: could not make the test file\n");
    return;
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

void print_seeks(const std::string& file, int duration, int count) {
  seek_observer observer;
  std::unique_ptr<vidora> player(vidora::create(file.c_str(), &observer, 0));
  player->start();
  observer.wait_until([&] { return !observer.progress.empty(); });
  std::mt19937 rng(1);
  std::vector<double> latencies;
  int current = 0;
  for (int i = 0; i < count; i++) {
    int percent;
    int second;
    do {
      percent = static_cast<int>(rng() % 90);
      second = duration * percent / 100;
    } while (std::abs(second - current) < 2 || (duration * percent) % 100 != 0);
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
}

void print_cpu(const std::string& file) {
  const double before = cpu_seconds(RUSAGE_SELF);
  recording_observer observer;
  std::unique_ptr<vidora> player(vidora::create(file.c_str(), &observer, 0));
  player->start();
  observer.wait_until([&] { return observer.ended; });
  player.reset();
  const double player_cpu = cpu_seconds(RUSAGE_SELF) - before;

  const double children_before = cpu_seconds(RUSAGE_CHILDREN);
  const std::string command =
      "ffmpeg -nostdin -v error -re -i '" + file + "' -pix_fmt rgb24 -f null -";
  if (std::system(command.c_str()) != 0)
    std::printf("cpu: ffmpeg failed\n");
  const double ffmpeg_cpu = cpu_seconds(RUSAGE_CHILDREN) - children_before;
  std::printf("cpu: player %.2f s (%d pictures), ffmpeg -re %.2f s: ratio %.2fx\n", player_cpu,
              observer.frame_count, ffmpeg_cpu, ffmpeg_cpu > 0 ? player_cpu / ffmpeg_cpu : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  int sync_seconds = 60;
  int seeks = 40;
  int cpu_seconds_long = 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--sync-seconds"))
      sync_seconds = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--seeks"))
      seeks = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--cpu-seconds"))
      cpu_seconds_long = atoi(argv[i + 1]);
  }
  // The sound goes to a file: the figures do not depend on a sound card.
  setenv("SDL_AUDIODRIVER", "disk", 1);
  temp_folder dir;
  print_sync(sync_seconds, dir);

  const std::string hd = dir.file("hd.mp4");
  const int hd_seconds = 30;
  if (!ffmpeg("-f lavfi -i testsrc2=s=1280x720:r=25 -f lavfi -i sine=f=440:r=48000 -t " +
                  std::to_string(std::max(hd_seconds, cpu_seconds_long)) +
                  " -c:v libx264 -preset veryfast -g 25 -pix_fmt yuv420p -c:a aac -ac 2",
              hd)) {
    std::printf("could not make the 720p file\n");
    return 1;
  }
  setenv("SDL_DISKAUDIOFILE", dir.file("seek.raw").c_str(), 1);
  print_seeks(hd, std::max(hd_seconds, cpu_seconds_long), seeks);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  print_cpu(hd);
  return 0;
}

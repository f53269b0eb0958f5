// bench-audio-mcu: what the MCU spends on the room audio of 4 speakers and 50 listeners on
// loopback: CPU of the MCU's relay and mixer threads (the
// rooms' control threads are not counted) while every speaker sends a tone
// every 20 ms and every listener receives its mix; and the mixer alone, tick by tick.
//
//   bench-audio-mcu [--seconds N] [--speakers N] [--listeners N]   (default 10, 4, 50)
#include <dirent.h>
#include <poll.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <opus.h>

#include "audio_mix_engine.h"
#include "audio_packet.h"
#include "bench_room.h"

namespace {

using clock_type = std::chrono::steady_clock;

std::set<long> thread_ids() {
  std::set<long> ids;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.')
        ids.insert(std::atol(entry->d_name));
    closedir(dir);
  }
  return ids;
}

// User + system CPU seconds of the given threads.
double cpu_seconds(const std::set<long>& threads) {
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  double total = 0;
  for (long id : threads) {
    std::ifstream stat("/proc/self/task/" + std::to_string(id) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
      continue;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14)
        utime = std::stoull(field);
      if (i == 15)
        stime = std::stoull(field);
    }
    total += static_cast<double>(utime + stime) / tick;
  }
  return total;
}

// 50 frames (1 s) of a tone, encoded once and sent in a loop.
std::vector<std::vector<uint8_t>> tone_frames(double frequency) {
  int error = 0;
  OpusEncoder* encoder = opus_encoder_create(48000, 2, OPUS_APPLICATION_VOIP, &error);
  opus_encoder_ctl(encoder, OPUS_SET_BITRATE(48000));
  std::vector<std::vector<uint8_t>> frames;
  std::vector<int16_t> pcm(960 * 2);
  for (int f = 0; f < 50; ++f) {
    for (int i = 0; i < 960; ++i)
      pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(
          6000 * std::sin(2 * 3.14159265358979 * frequency * (f * 960 + i) / 48000.0));
    uint8_t packet[400];
    const int size = opus_encode(encoder, pcm.data(), 960, packet, sizeof packet);
    frames.emplace_back(packet, packet + std::max(size, 0));
  }
  opus_encoder_destroy(encoder);
  return frames;
}

double thread_cpu_ms() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The mixer alone: ticks with every speaker's frame in, every listener's datagram out.
void mixer_alone(int speakers, int listeners) {
  mcu::audio_mix_engine engine;
  std::vector<std::vector<std::vector<uint8_t>>> frames;
  std::vector<std::unique_ptr<mcu::audio_stream_packetizer>> packetizers;
  for (int s = 0; s < speakers; ++s) {
    engine.add_publisher(1, 100 + s);
    frames.push_back(tone_frames(300 + 200 * s));
    packetizers.push_back(std::make_unique<mcu::audio_stream_packetizer>(100 + s));
  }
  std::size_t sent = 0;
  for (int l = 0; l < listeners; ++l)
    engine.add_listener(1, l < speakers ? 100 + l : 1000 + l,
                        [&](const uint8_t*, std::size_t) { ++sent; });
  const int ticks = 500;
  const double before = thread_cpu_ms();
  for (int t = 0; t < ticks; ++t) {
    for (int s = 0; s < speakers; ++s) {
      const auto& f = frames[s][t % 50];
      const auto d = packetizers[s]->next(f.data(), static_cast<unsigned>(f.size()), 960);
      engine.publisher_datagram(1, 100 + s, d.data(), d.size());
    }
    engine.tick();
  }
  const double per_tick = (thread_cpu_ms() - before) / ticks;
  std::printf(
      "mixer alone: %.3f ms CPU per 20 ms tick (%.1f%% of one core), %.1f us per "
      "listener, %zu datagrams\n",
      per_tick, per_tick / 20 * 100, per_tick * 1000 / listeners, sent);
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 10, speakers = 4, listeners = 50;
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string flag = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (flag == "--seconds")
      seconds = std::max(2, value);
    else if (flag == "--speakers")
      speakers = std::clamp(value, 1, 16);
    else if (flag == "--listeners")
      listeners = std::clamp(value, 1, 400);
  }
  std::printf("room: %d speakers (who also listen), %d other listeners\n", speakers, listeners);
  mixer_alone(speakers, speakers + listeners);

  const std::set<long> before = thread_ids();
  bench_audio::bench_room room;
  if (!room.ok()) {
    std::fprintf(stderr, "bench-audio-mcu: the MCU did not start\n");
    return 1;
  }
  const std::set<long> after = thread_ids();
  std::set<long> mcu_threads;
  for (long id : after)
    if (!before.count(id))
      mcu_threads.insert(id);

  std::vector<std::unique_ptr<bench_audio::udp_link>> uplinks, downlinks;
  std::vector<uint32_t> listener_ids;
  for (int s = 0; s < speakers; ++s) {
    const uint16_t port = room.add_speaker(100 + s);
    if (!port) {
      std::fprintf(stderr, "bench-audio-mcu: the MCU room did not come up\n");
      return 1;
    }
    uplinks.push_back(std::make_unique<bench_audio::udp_link>(port));
  }
  for (int l = 0; l < speakers + listeners; ++l) {
    // Speakers hear the others too.
    const uint32_t id = l < speakers ? 100 + l : 1000 + l;
    const uint16_t port = l < speakers ? 0 : room.add_listener(id, 100);
    if (l < speakers)
      continue;  // their control sessions already exist; their audio is not measured
    if (!port) {
      std::fprintf(stderr, "bench-audio-mcu: listener %u was not given the room audio\n", id);
      return 1;
    }
    downlinks.push_back(std::make_unique<bench_audio::udp_link>(port));
    listener_ids.push_back(id);
  }
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> received{0};
  std::thread receiver([&] {
    std::vector<uint8_t> buffer(2048);
    std::vector<bool> heard(downlinks.size(), false);
    std::vector<pollfd> fds;
    for (const auto& d : downlinks)
      fds.push_back({d->fd(), POLLIN, 0});
    auto next_registration = clock_type::now();
    while (!stop) {
      if (clock_type::now() >= next_registration) {
        for (std::size_t i = 0; i < downlinks.size(); ++i)
          if (!heard[i])
            downlinks[i]->send(
                bench_audio::registration(listener_ids[i], room.token(listener_ids[i])));
        next_registration += std::chrono::milliseconds(100);
      }
      if (poll(fds.data(), fds.size(), 50) <= 0)
        continue;
      for (std::size_t i = 0; i < fds.size(); ++i) {
        while (downlinks[i]->receive(buffer) > 0) {
          heard[i] = true;
          ++received;
        }
      }
    }
  });

  std::vector<std::vector<std::vector<uint8_t>>> frames;
  std::vector<std::unique_ptr<mcu::audio_stream_packetizer>> packetizers;
  for (int s = 0; s < speakers; ++s) {
    frames.push_back(tone_frames(300 + 200 * s));
    packetizers.push_back(std::make_unique<mcu::audio_stream_packetizer>(100 + s));
  }
  auto send_for = [&](int ticks, int* tick) {
    auto next = clock_type::now();
    for (int t = 0; t < ticks; ++t, ++*tick) {
      for (int s = 0; s < speakers; ++s) {
        const auto& f = frames[s][*tick % 50];
        uplinks[s]->send(packetizers[s]->next(f.data(), static_cast<unsigned>(f.size()), 960));
      }
      next += std::chrono::milliseconds(20);
      std::this_thread::sleep_until(next);
    }
  };
  int tick = 0;
  send_for(100, &tick);  // warm up: buffers fill, every listener registered
  const double cpu_before = cpu_seconds(mcu_threads);
  const uint64_t received_before = received;
  const auto wall_before = clock_type::now();
  send_for(seconds * 50, &tick);
  const double wall = std::chrono::duration<double>(clock_type::now() - wall_before).count();
  const double cpu = cpu_seconds(mcu_threads) - cpu_before;
  const uint64_t got = received - received_before;
  stop = true;
  receiver.join();

  std::printf(
      "MCU on loopback: %.1f%% of one core for the room (%.2f ms CPU per second), "
      "%.3f%% per listener\n",
      100 * cpu / wall, 1000 * cpu / wall, 100 * cpu / wall / listeners);
  std::printf("  %llu datagrams received in %.1f s: %.1f per listener per second (50 expected)\n",
              static_cast<unsigned long long>(got), wall, got / wall / listeners);
  if (got == 0) {
    std::fprintf(stderr, "bench-audio-mcu: no mix reached the listeners\n");
    return 1;
  }
  return 0;
}

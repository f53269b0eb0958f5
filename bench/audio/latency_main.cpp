// bench-audio-latency: mouth-to-ear latency of the room audio on loopback. A click (5 ms of
// 1 kHz) every 500 ms goes into the encoder as a microphone block would, through the sender's
// datagrams, the MCU's mixer and the listener's jitter buffer and player; the time is taken again
// when the click reaches the speaker's callback. Prints p50 / p99.
//
//   bench-audio-latency [--seconds N]   (default 20; SDL's dummy output unless
//                                        SDL_AUDIODRIVER says otherwise)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio_rtp_packet.h"
#include "audio_rtp_recv.h"
#include "bench_room.h"
#include "velaudira_player.h"
#include "velmedia/velsample_encode.h"

namespace {

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point t0, clock_type::time_point t) {
  return std::chrono::duration<double, std::milli>(t - t0).count();
}

struct sender {
  audio_rtp_packetizer packetizer{1};
  bench_audio::udp_link* link = nullptr;
  uint8_t packet[audio_max_datagram];

  static void on_frame(const uint8_t* data, unsigned length, uint32_t timestamp, void* self) {
    auto* s = static_cast<sender*>(self);
    const unsigned size = s->packetizer.packetize(data, length, timestamp, s->packet);
    if (size)
      s->link->send(s->packet, size);
  }
};

}  // namespace

int main(int argc, char** argv) {
  int seconds = 20;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--seconds")
      seconds = std::max(5, std::atoi(argv[i + 1]));
  setenv("SDL_AUDIODRIVER", "dummy", 0);

  bench_audio::bench_room room;
  const uint32_t speaker = 1, listener = 2;
  const uint16_t publish_port = room.ok() ? room.add_speaker(speaker) : 0;
  const uint16_t listen_port = publish_port ? room.add_listener(listener, speaker) : 0;
  if (!listen_port) {
    std::fprintf(stderr, "bench-audio-latency: the MCU room did not come up\n");
    return 1;
  }
  auto player = audira_internal::velaudira_player::open(0);
  if (!player) {
    std::fprintf(stderr, "bench-audio-latency: no audio output (try SDL_AUDIODRIVER=dummy)\n");
    return 1;
  }

  std::mutex mutex;
  clock_type::time_point last_click{};
  bool click_pending = false;
  std::vector<double> latencies;
  const auto start = clock_type::now();
  long quiet = 0;
  std::atomic<long> tapped{0};
  std::atomic<int> loudest{0};
  player->set_output_tap([&](const int16_t* samples, unsigned frames) {
    const auto now = clock_type::now();
    tapped += frames;
    for (unsigned i = 0; i < frames; ++i)
      loudest = std::max<int>(loudest, std::abs(static_cast<int>(samples[2 * i])));
    for (unsigned i = 0; i < frames; ++i) {
      const int v = std::abs(static_cast<int>(samples[2 * i]));
      if (v > 4000 && quiet > 4800) {
        std::lock_guard<std::mutex> lock(mutex);
        const auto heard = now + std::chrono::microseconds(i * 1000000LL / 48000);
        if (click_pending && ms_since(start, last_click) > 3000)
          latencies.push_back(ms_since(last_click, heard));
        click_pending = false;
        quiet = 0;
      }
      quiet = v > 4000 ? 0 : quiet + 1;
    }
  });
  audio_rtp_recv receiver("127.0.0.1", listen_port, listener, std::move(player),
                          room.token(listener));

  bench_audio::udp_link uplink(publish_port);
  sender out;
  out.link = &uplink;
  velsample_encoder* encoder =
      velsample_encode_open(2, 48000, 48000, &sender::on_frame, 0, &out, false);
  if (!encoder)
    return 1;
  // The microphone: 10 ms blocks at real-time pace, a 1 ms click every 500 ms.
  std::vector<int16_t> block(480 * 2);
  auto next = clock_type::now();
  const int blocks = seconds * 100;
  for (int k = 0; k < blocks; ++k) {
    std::fill(block.begin(), block.end(), 0);
    const bool click = k % 50 == 25;
    // A 5 ms burst of 1 kHz: inside the codec's band, unlike a one-sample spike.
    if (click)
      for (int i = 0; i < 240; ++i)
        block[2 * i] = block[2 * i + 1] =
            static_cast<int16_t>(20000 * std::sin(2 * 3.14159265358979 * 1000 * i / 48000.0));
    if (click) {
      std::lock_guard<std::mutex> lock(mutex);
      last_click = clock_type::now();
      click_pending = true;
    }
    velsample_encode_feed(encoder, block.data(), 480);
    next += std::chrono::milliseconds(10);
    std::this_thread::sleep_until(next);
  }
  velsample_encode_close(encoder);

  std::vector<double> sorted;
  {
    std::lock_guard<std::mutex> lock(mutex);
    sorted = latencies;
  }
  std::sort(sorted.begin(), sorted.end());
  if (sorted.empty()) {
    std::printf("bench-audio-latency: no click came through (%ld frames played, loudest %d)\n",
                tapped.load(), loudest.load());
    return 1;
  }
  std::printf(
      "mouth-to-ear latency on loopback (encoder input to speaker callback), %zu clicks:\n"
      "  p50 %.1f ms  p99 %.1f ms  min %.1f ms  max %.1f ms\n",
      sorted.size(), bench_audio::percentile(sorted, 50), bench_audio::percentile(sorted, 99),
      sorted.front(), sorted.back());
  return 0;
}

// bench-video-latency: glass-to-glass latency of the video path on loopback. A synthetic
// camera draws a frame counter (a row of black and white blocks) into each picture and notes
// when it made it; the picture goes through libpavo's camera sender (queue, H.264 encoder,
// FEC packetiser, UDP), the MCU's media relay and libpavo's video receiver (FEC, assembly,
// decoder, RGB conversion); the counter is read back from the RGB picture the observer gets.
//
//   bench-video-latency [--frames N]   (default 150 per size, at 15 per second)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "frame_buffer.h"
#include "mcu/media_router.h"
#include "sendmsg2ui.h"
#include "velmedia/velcapture.h"
#include "velvideo_capture.h"
#include "video_rtp_recv.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr int counter_bits = 16;
// When each numbered picture was made (steady clock, ns); written by the camera's thread,
// read by the decoding thread.
using made_times = std::vector<std::atomic<int64_t>>;

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(clock_type::now().time_since_epoch())
      .count();
}
constexpr uint32_t room = 1, publisher = 100, listener = 200;
// Everything runs on loopback: the ports take datagrams from 127.0.0.1.
constexpr uint32_t loopback = 0x7F000001;

// The "glass" on the sending side: a camera whose pictures carry their number.
class counter_camera : public velcapture {
public:
  counter_camera(int fps, made_times* made) : fps_(fps), made_(made) {}
  ~counter_camera() override { close(); }
  int get_device_count() override { return 1; }
  int get_device_name(int, char* name) override {
    name[0] = 0;
    return 0;
  }
  int open(int, int* width, int* height, int* fps, velcapture_data_callback* sink) override {
    width_ = *width;
    height_ = *height;
    *fps = fps_;
    stop_ = false;
    thread_ = std::thread([this, sink] { run(sink); });
    return 0;
  }
  int close() override {
    stop_ = true;
    if (thread_.joinable())
      thread_.join();
    return 0;
  }

private:
  void run(velcapture_data_callback* sink) {
    std::vector<uint8_t> picture(velmedia_i420_size(width_, height_));
    const auto period = std::chrono::microseconds(1000000 / fps_);
    auto next = clock_type::now();
    for (uint32_t n = 0; !stop_ && n < made_->size(); ++n) {
      std::this_thread::sleep_until(next);
      next += period;
      draw(&picture, n);
      (*made_)[n] = now_ns();
      sink->on_capture_data(picture.data(), static_cast<unsigned>(picture.size()), width_, height_);
    }
  }
  void draw(std::vector<uint8_t>* p, uint32_t n) {
    const int w = width_, h = height_, block = w / (counter_bits + 4);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t luma = static_cast<uint8_t>(16 + ((x + 2 * y + 3 * n) & 127));  // moves
        if (y < block && x >= block && x < block * (counter_bits + 1)) {
          const int bit = (x - block) / block;
          luma = ((n >> bit) & 1) ? 235 : 16;
        }
        (*p)[static_cast<std::size_t>(y) * w + x] = luma;
      }
    std::fill(p->begin() + static_cast<std::ptrdiff_t>(w) * h, p->end(), uint8_t{128});
  }

  const int fps_;
  made_times* made_;
  int width_ = 0, height_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The "glass" on the receiving side: reads the counter back out of each RGB picture.
class counter_reader : public sendmsg2ui {
public:
  explicit counter_reader(const made_times* made) : made_(made) {}
  void media_event(int, void*) override {}
  void net_state(uint32_t, int) override {}
  void deliver_frame(int width, int height, uint8_t* pixels, uint32_t, int) override {
    const int64_t now = now_ns();
    {
      const int block = width / (counter_bits + 4);
      uint32_t n = 0;
      for (int bit = 0; bit < counter_bits; ++bit) {
        const int x = block + bit * block + block / 2, y = block / 2;
        const uint8_t* px = pixels + (static_cast<std::size_t>(y) * width + x) * 3;
        if (px[0] + px[1] + px[2] > 3 * 128)
          n |= 1u << bit;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      if (n < made_->size())
        latencies_.push_back(double(now - (*made_)[n].load()) / 1e6);
      else
        ++unreadable_;
      changed_.notify_all();
    }
    (void)height;
    pavo::frame_free(pixels);
  }
  bool wait_for(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60),
                             [&] { return latencies_.size() + unreadable_ >= n; });
  }
  std::vector<double> latencies() {
    std::lock_guard<std::mutex> lock(mutex_);
    return latencies_;
  }
  std::size_t unreadable() {
    std::lock_guard<std::mutex> lock(mutex_);
    return unreadable_;
  }

private:
  const made_times* made_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<double> latencies_;
  std::size_t unreadable_ = 0;
};

// The sender's own preview is not looked at.
class discard_ui : public sendmsg2ui {
public:
  void media_event(int, void*) override {}
  void net_state(uint32_t, int) override {}
  void deliver_frame(int, int, uint8_t* pixels, uint32_t, int) override {
    pavo::frame_free(pixels);
  }
};

// False when no picture came through.
bool measure(int width, int height, int kbps, int frames) {
  made_times made(static_cast<std::size_t>(frames));
  mcu::media_router_options options;
  options.port_base = 0;
  mcu::media_router router(options);
  const uint16_t in = router.open_publisher(room, publisher, 1, loopback);
  const pavo_wire::media_token token{{7, 7, 7, 7}};  // the listener's session's
  const uint16_t out = router.open_subscriber(room, listener, publisher, 1, loopback, token);

  counter_reader reader(&made);
  pavo::video_rtp_recv receiver("127.0.0.1", out, listener, &reader, publisher, 1, token);
  discard_ui preview;
  pavo::velvideo_capture sender(&preview, 0, [&] { return new counter_camera(15, &made); });
  sender.set_capture_param(width, height, 15, kbps);
  if (sender.start("127.0.0.1", in, publisher, kbps * 2, kbps / 2) != 0) {
    std::fprintf(stderr, "%dx%d: the sender does not start\n", width, height);
    return false;
  }
  // The first frames include the receiver's registration; all but the last few are waited for.
  reader.wait_for(static_cast<std::size_t>(frames) - 5);
  sender.stop();
  std::vector<double> ms = reader.latencies();
  if (ms.empty()) {
    std::fprintf(stderr, "%dx%d: nothing decoded\n", width, height);
    return false;
  }
  std::sort(ms.begin(), ms.end());
  const double p50 = ms[ms.size() / 2], p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  std::printf(
      "%5dx%-4d @15 %5d kbit/s  %4zu frames  p50 %6.1f ms  p99 %6.1f ms  max %6.1f ms"
      "  (unreadable %zu)\n",
      width, height, kbps, ms.size(), p50, p99, ms.back(), reader.unreadable());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 150;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--frames") == 0)
      frames = std::max(10, std::atoi(argv[i + 1]));  // a few are the receiver's start
  std::printf(
      "glass-to-glass on loopback: capture -> encode -> FEC/RTP -> MCU relay -> FEC -> "
      "assemble -> decode -> RGB\n");
  const bool vga = measure(640, 480, 600, frames);
  const bool hd = measure(1280, 720, 1000, frames);
  return vga && hd ? 0 : 1;
}

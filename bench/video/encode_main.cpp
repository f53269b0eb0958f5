// bench-video-encode: time per frame of the video path's picture work at the sizes the
// classroom uses: H.264 encoding (camera and screen tuning), decoding, and the conversion to
// the RGB pixels the client shows. A moving picture, one thread.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "velmedia/velconvert.h"
#include "velmedia/velvideo_dec.h"
#include "velmedia/velvideo_enc.h"

namespace {

using bytes = std::vector<uint8_t>;
using clock_type = std::chrono::steady_clock;

struct keep_last : velcode_enc_data {
  bytes last;
  void on_encoded_data(const uint8_t* d, unsigned n, uint32_t, int) override {
    last.assign(d, d + n);
  }
};
struct count_pictures : velcode_dec_data {
  bytes last;
  void on_decoded_data(const uint8_t* p, int w, int h) override {
    last.assign(p, p + velmedia_i420_size(w, h));
  }
};

void picture_at(bytes* p, int w, int h, int n) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool ball = ((x - 5 * n) & 255) < 60 && ((y - 3 * n) & 255) < 60;
      (*p)[y * w + x] = ball ? 230 : static_cast<uint8_t>(16 + ((x + 2 * y + n) & 127));
    }
  for (std::size_t i = static_cast<std::size_t>(w) * h; i < p->size(); ++i)
    (*p)[i] = static_cast<uint8_t>(100 + ((i / 7 + n) & 31));
}

struct stats {
  double mean, p50, p99;
};
stats summarise(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double v : ms)
    sum += v;
  return {sum / ms.size(), ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

double since(clock_type::time_point start) {
  return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

}  // namespace

int main() {
  struct size {
    int w, h, kbps;
    bool screen;
    const char* what;
  };
  const size sizes[] = {{320, 240, 300, false, "camera 320x240"},
                        {640, 480, 600, false, "camera 640x480"},
                        {1280, 720, 1000, false, "camera 1280x720"},
                        {1280, 720, 1000, true, "screen 1280x720"}};
  constexpr int frames = 150;
  std::printf("%-17s %26s %26s %26s %10s\n", "", "encode ms mean/p50/p99", "decode ms mean/p50/p99",
              "to RGB ms mean/p50/p99", "kbit/s");
  for (const size& s : sizes) {
    keep_last out;
    count_pictures pictures;
    std::unique_ptr<velvideo_enc> enc(velvideo_enc::create(s.w, s.h, 15, s.kbps, &out, s.screen));
    std::unique_ptr<velvideo_dec> dec(velvideo_dec::create(&pictures));
    if (!enc || !dec) {
      std::printf("%s: no codec\n", s.what);
      return 1;
    }
    bytes picture(velmedia_i420_size(s.w, s.h)), rgb(velmedia_bgr24_size(s.w, s.h));
    std::vector<double> enc_ms, dec_ms, rgb_ms;
    std::size_t encoded_bytes = 0;
    for (int n = 0; n < frames; ++n) {
      picture_at(&picture, s.w, s.h, n);
      auto t = clock_type::now();
      enc->encode(picture.data(), static_cast<unsigned>(picture.size()), 66 * n);
      enc_ms.push_back(since(t));
      encoded_bytes += out.last.size();
      t = clock_type::now();
      dec->decode(out.last.data(), static_cast<unsigned>(out.last.size()));
      dec_ms.push_back(since(t));
      t = clock_type::now();
      yuv4202bgr24(pictures.last.data(), rgb.data(), s.w, s.h);
      rgb_ms.push_back(since(t));
    }
    const stats e = summarise(enc_ms), d = summarise(dec_ms), r = summarise(rgb_ms);
    std::printf("%-17s %10.2f %6.2f %7.2f  %10.2f %6.2f %7.2f  %10.2f %6.2f %7.2f  %9.0f\n", s.what,
                e.mean, e.p50, e.p99, d.mean, d.p50, d.p99, r.mean, r.p50, r.p99,
                encoded_bytes * 8.0 / 1000.0 / (frames / 15.0));
  }
  return 0;
}

#include "screen_overlay.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "libpavo/libpavo.h"

namespace pavo {

namespace {

// One layer word, its colour clamped to its alpha: a premultiplied colour never exceeds its
// alpha, and a sample that did would brighten what lies beneath even where the layer is clear.
struct premultiplied {
  int a, r, g, b;
};

premultiplied unpack(const uint8_t* word_bytes) {
  uint32_t word;
  std::memcpy(&word, word_bytes, 4);
  const int a = static_cast<int>(word >> 24);
  return {a, std::min(a, static_cast<int>((word >> 16) & 0xff)),
          std::min(a, static_cast<int>((word >> 8) & 0xff)),
          std::min(a, static_cast<int>(word & 0xff))};
}

// The grabber's pictures are BT.601 limited range (swscale's default). For a premultiplied
// source the offsets scale with alpha, so that value + dst*(255-a)/255 is the source-over
// result in YUV as it would be in RGB.
uint8_t clamp_byte(int v) {
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}
uint8_t luma_of(const premultiplied& p) {
  return clamp_byte(((66 * p.r + 129 * p.g + 25 * p.b + 128) >> 8) + (16 * p.a + 127) / 255);
}
// The shifts stay on non-negative numbers (+ 256 * 256, then - 256).
uint8_t u_of(int a, int r, int g, int b) {
  return clamp_byte(((-38 * r - 74 * g + 112 * b + 128 + 65536) >> 8) - 256 +
                    (128 * a + 127) / 255);
}
uint8_t v_of(int a, int r, int g, int b) {
  return clamp_byte(((112 * r - 94 * g - 18 * b + 128 + 65536) >> 8) - 256 + (128 * a + 127) / 255);
}

// Nearest-neighbour source index of each of `count` picture positions over `source` ones.
std::vector<int> nearest(int count, int source) {
  std::vector<int> map(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    map[i] = static_cast<int>((2 * static_cast<int64_t>(i) + 1) * source /
                              (2 * static_cast<int64_t>(count)));
  return map;
}

void over(uint8_t* dst, uint8_t value, uint8_t alpha) {
  if (alpha == 0)
    return;
  *dst = clamp_byte(value + (*dst * (255 - alpha) + 127) / 255);
}

}  // namespace

void screen_overlay::apply(sendmsg2ui* ui, uint8_t* i420, int width, int height,
                           clock::time_point now) {
  if (!asked_ || now - last_ask_ >= ask_interval) {
    asked_ = true;
    last_ask_ = now;
    ask(ui);
  }
  if (layer_len_ == 0 || !i420 || width <= 0 || height <= 0)
    return;
  if (conv_w_ != width || conv_h_ != height)
    convert(width, height);
  blend(i420, width, height);
}

void screen_overlay::ask(sendmsg2ui* ui) {
  layer_len_ = 0;
  conv_w_ = conv_h_ = 0;
  if (!ui)
    return;
  if (!layer_)
    layer_.reset(new (std::nothrow) uint8_t[layer_capacity]);
  if (!layer_)
    return;
  mark_bitmap_t record{layer_.get(), layer_capacity, 0, 0, 0};
  ui->media_event(pavo_event_mark_bitmap, &record);
  ++asks_;
  // Only a whole picture written into our buffer counts; anything else lays nothing over.
  if (record.data != layer_.get() || record.width <= 0 || record.height <= 0 || record.len <= 0)
    return;
  const uint64_t bytes =
      static_cast<uint64_t>(record.width) * static_cast<uint64_t>(record.height) * 4;
  if (bytes != static_cast<uint64_t>(record.len) || bytes > layer_capacity)
    return;
  layer_w_ = record.width;
  layer_h_ = record.height;
  layer_len_ = record.len;
}

void screen_overlay::convert(int width, int height) {
  conv_w_ = width;
  conv_h_ = height;
  const std::size_t luma = static_cast<std::size_t>(width) * height;
  const int cw = (width + 1) / 2, ch = (height + 1) / 2;
  const std::size_t chroma = static_cast<std::size_t>(cw) * ch;
  y_value_.assign(luma, 0);
  y_alpha_.assign(luma, 0);
  u_value_.assign(chroma, 0);
  v_value_.assign(chroma, 0);
  c_alpha_.assign(chroma, 0);
  const std::vector<int> sx = nearest(width, layer_w_), sy = nearest(height, layer_h_);
  const uint8_t* layer = layer_.get();
  auto at = [&](int x, int y) {
    return unpack(layer + 4 * (static_cast<std::size_t>(sy[y]) * layer_w_ + sx[x]));
  };

  x0_ = width, x1_ = 0, y0_ = height, y1_ = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const premultiplied p = at(x, y);
      if (p.a == 0)
        continue;
      const std::size_t i = static_cast<std::size_t>(y) * width + x;
      y_value_[i] = luma_of(p);
      y_alpha_[i] = static_cast<uint8_t>(p.a);
      x0_ = std::min(x0_, x);
      x1_ = std::max(x1_, x + 1);
      y0_ = std::min(y0_, y);
      y1_ = std::max(y1_, y + 1);
    }
  }
  if (x0_ >= x1_)
    return;  // a clear layer: nothing to lay over

  // Each chroma sample averages the premultiplied samples of the pixels it covers.
  for (int cy = y0_ / 2; cy < (y1_ + 1) / 2; ++cy) {
    for (int cx = x0_ / 2; cx < (x1_ + 1) / 2; ++cx) {
      int n = 0, a = 0, r = 0, g = 0, b = 0;
      for (int y = 2 * cy; y < std::min(2 * cy + 2, height); ++y) {
        for (int x = 2 * cx; x < std::min(2 * cx + 2, width); ++x) {
          const premultiplied p = at(x, y);
          ++n;
          a += p.a;
          r += p.r;
          g += p.g;
          b += p.b;
        }
      }
      if (a == 0)
        continue;
      a = (a + n / 2) / n;
      r = (r + n / 2) / n;
      g = (g + n / 2) / n;
      b = (b + n / 2) / n;
      const std::size_t i = static_cast<std::size_t>(cy) * cw + cx;
      c_alpha_[i] = static_cast<uint8_t>(a);
      u_value_[i] = u_of(a, r, g, b);
      v_value_[i] = v_of(a, r, g, b);
    }
  }
}

void screen_overlay::blend(uint8_t* i420, int width, int height) const {
  if (x0_ >= x1_)
    return;
  for (int y = y0_; y < y1_; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * width;
    for (int x = x0_; x < x1_; ++x)
      over(i420 + row + x, y_value_[row + x], y_alpha_[row + x]);
  }
  const int cw = (width + 1) / 2, ch = (height + 1) / 2;
  uint8_t* u = i420 + static_cast<std::size_t>(width) * height;
  uint8_t* v = u + static_cast<std::size_t>(cw) * ch;
  for (int cy = y0_ / 2; cy < (y1_ + 1) / 2; ++cy) {
    const std::size_t row = static_cast<std::size_t>(cy) * cw;
    for (int cx = x0_ / 2; cx < (x1_ + 1) / 2; ++cx) {
      over(u + row + cx, u_value_[row + cx], c_alpha_[row + cx]);
      over(v + row + cx, v_value_[row + cx], c_alpha_[row + cx]);
    }
  }
}

}  // namespace pavo

#include "Bitmap.h"

#include <cmath>
#include <fstream>

namespace tavsvc {

Bitmap::Bitmap(int width, int height, Rgb fill)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width * height), fill) {}

void Bitmap::set(int x, int y, Rgb colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_)
    return;
  pixels_[static_cast<size_t>(y * width_ + x)] = colour;
}

void Bitmap::verticalGradient(Rgb top, Rgb bottom) {
  for (int y = 0; y < height_; ++y) {
    const double t = height_ > 1 ? static_cast<double>(y) / (height_ - 1) : 0;
    const Rgb c{static_cast<uint8_t>(top.r + (bottom.r - top.r) * t),
                static_cast<uint8_t>(top.g + (bottom.g - top.g) * t),
                static_cast<uint8_t>(top.b + (bottom.b - top.b) * t)};
    for (int x = 0; x < width_; ++x)
      set(x, y, c);
  }
}

void Bitmap::fillRect(int x, int y, int w, int h, Rgb colour) {
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i)
      set(i, j, colour);
}

void Bitmap::fillCircle(int cx, int cy, int radius, Rgb colour) {
  for (int y = cy - radius; y <= cy + radius; ++y)
    for (int x = cx - radius; x <= cx + radius; ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius)
        set(x, y, colour);
}

void Bitmap::fillStar(int cx, int cy, int radius, Rgb colour) {
  // Ten corners alternating between the outer and the inner radius.
  const double pi = 3.14159265358979323846;
  double px[10], py[10];
  for (int i = 0; i < 10; ++i) {
    const double r = (i % 2 == 0) ? radius : radius * 0.4;
    const double a = -pi / 2 + i * pi / 5;
    px[i] = cx + r * std::cos(a);
    py[i] = cy + r * std::sin(a);
  }
  for (int y = cy - radius; y <= cy + radius; ++y) {
    for (int x = cx - radius; x <= cx + radius; ++x) {
      bool inside = false;  // even-odd rule
      for (int i = 0, j = 9; i < 10; j = i++) {
        if ((py[i] > y) != (py[j] > y) &&
            x < (px[j] - px[i]) * (y - py[i]) / (py[j] - py[i]) + px[i])
          inside = !inside;
      }
      if (inside)
        set(x, y, colour);
    }
  }
}

std::vector<uint8_t> Bitmap::bmp() const {
  const uint32_t rowSize = static_cast<uint32_t>((width_ * 3 + 3) & ~3);
  const uint32_t imageSize = rowSize * static_cast<uint32_t>(height_);
  const uint32_t fileSize = 54 + imageSize;
  std::vector<uint8_t> out(fileSize, 0);
  const auto put16 = [&](size_t at, uint16_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  const auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, fileSize);
  put32(10, 54);  // pixel data offset
  put32(14, 40);  // BITMAPINFOHEADER
  put32(18, static_cast<uint32_t>(width_));
  put32(22, static_cast<uint32_t>(height_));  // positive: rows bottom-up
  put16(26, 1);
  put16(28, 24);
  put32(34, imageSize);
  put32(38, 2835);  // 72 dpi
  put32(42, 2835);
  for (int y = 0; y < height_; ++y) {
    const size_t row = 54 + static_cast<size_t>(height_ - 1 - y) * rowSize;
    for (int x = 0; x < width_; ++x) {
      const Rgb& p = pixels_[static_cast<size_t>(y * width_ + x)];
      out[row + static_cast<size_t>(x) * 3] = p.b;
      out[row + static_cast<size_t>(x) * 3 + 1] = p.g;
      out[row + static_cast<size_t>(x) * 3 + 2] = p.r;
    }
  }
  return out;
}

bool Bitmap::save(const std::string& path) const {
  const auto data = bmp();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(file);
}

}  // namespace tavsvc

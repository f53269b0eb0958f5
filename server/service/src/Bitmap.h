// Small 24-bit pictures for the demo data (posters, avatars, gifts, medals),
// written as BMP files, which every image loader reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavsvc {

struct Rgb {
  uint8_t r, g, b;
};

class Bitmap {
public:
  Bitmap(int width, int height, Rgb fill);

  int width() const { return width_; }
  int height() const { return height_; }
  void set(int x, int y, Rgb colour);
  // Top-to-bottom blend from `top` to `bottom`.
  void verticalGradient(Rgb top, Rgb bottom);
  void fillRect(int x, int y, int w, int h, Rgb colour);
  void fillCircle(int cx, int cy, int radius, Rgb colour);
  // A five-pointed star inside the circle of the given radius.
  void fillStar(int cx, int cy, int radius, Rgb colour);

  std::vector<uint8_t> bmp() const;
  bool save(const std::string& path) const;

private:
  int width_, height_;
  std::vector<Rgb> pixels_;
};

}  // namespace tavsvc

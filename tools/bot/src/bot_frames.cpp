#include "bot_frames.h"

#include <cstdio>

namespace bot {

void frame_store::keep(uint32_t user, int kind, int width, int height, const uint8_t* pixels) {
  if (!pixels || width <= 0 || height <= 0)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  picture& p = newest_[{user, kind}];
  p.width = width;
  p.height = height;
  p.pixels.assign(pixels, pixels + static_cast<std::size_t>(width) * height * 3);
}

int frame_store::dump_ppm(uint32_t user, int kind, const std::string& path) {
  picture copy;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = newest_.find({user, kind});
    if (found == newest_.end())
      return -1;
    copy = found->second;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file)
    return -1;
  // PPM's pixels are R, G, B: the same bytes as the frame.
  std::fprintf(file, "P6\n%d %d\n255\n", copy.width, copy.height);
  const bool written =
      std::fwrite(copy.pixels.data(), 1, copy.pixels.size(), file) == copy.pixels.size();
  return (std::fclose(file) == 0 && written) ? 0 : -1;
}

}  // namespace bot

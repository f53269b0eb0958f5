// The newest video picture of each stream the bot sees (its own preview included), kept so
// that one can be written out as an image file ("dump").
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace bot {

class frame_store {
public:
  // One event-12 picture: width x height, 3 bytes per pixel (R, G, B).
  void keep(uint32_t user, int kind, int width, int height, const uint8_t* pixels);
  // Writes the newest picture of (user, kind) as a binary PPM file. 0 done, -1 no picture
  // yet or the file cannot be written.
  int dump_ppm(uint32_t user, int kind, const std::string& path);

private:
  struct picture {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
  };
  std::mutex mutex_;
  std::map<std::pair<uint32_t, int>, picture> newest_;
};

}  // namespace bot

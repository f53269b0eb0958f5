// The video parameters of "videoparam.conf": 18 values read once per process.
#pragma once

#include <cstddef>
#include <cstdint>

struct video_param_set_t {
  int32_t width;
  int32_t height;
  int32_t fps;
  int32_t start_bitrate;  // kbit/s
  int32_t min_bitrate;
  int32_t max_bitrate;
};

struct video_param_t {
  video_param_set_t teacher;
  video_param_set_t student;
  video_param_set_t share;
};

namespace pavo {

// The table from "videoparam.conf" in the working directory. The file is read at the first
// call only; null (then and for every later call) unless it opened and all 18 lines matched.
const video_param_t* video_param();

// Matches `text` against the 18 lines in their order, each with its exact format
// ("teacher width : %d\n" ...; a blank in the format stands for any white space, as in
// scanf). False when a line does not match or a number does not fit 32 bits.
bool parse_video_param(const char* text, std::size_t length, video_param_t* out);

}  // namespace pavo

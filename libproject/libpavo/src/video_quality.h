// What the MCU's quality level (message 17) does to an own video stream's bitrate and FEC
// share. Rates in kbit/s; `base` is the stream's base rate B, `current` its rate R, `estimate`
// the bandwidth estimate in bit/s (negative when there is none).
#pragma once

#include <cstdint>

namespace pavo {

struct quality_step {
  bool change = false;  // re-create the encoder at `kbps`
  int kbps = 0;
  int fec_percent = -1;  // -1: leave the FEC share as it is
};

// Camera: level 3 and above cuts the rate (unless the estimate is above it), 0-2 steps back up
// towards B one step per report.
quality_step camera_quality(uint32_t level, int base, int current, int64_t estimate);
// Screen share: level 6 and above cuts, 0-5 steps back up; the FEC share is not touched.
quality_step screen_quality(uint32_t level, int base, int current, int64_t estimate);

// MCU message 16's value: the loss fraction in 1/256 units in the low byte, the queuing delay
// towards the MCU (ms) above it.
inline uint32_t feedback_loss(uint32_t value) {
  return value & 0xff;
}
inline uint32_t feedback_delay_ms(uint32_t value) {
  return value >> 8;
}

}  // namespace pavo

#include "video_quality.h"

namespace pavo {

namespace {

// The recovery ladder: B/2 -> 6B/10 -> 8B/10 -> B, with the FEC share for each step (the
// screen keeps its share: -1).
quality_step step_up(int base, int current, bool with_fec) {
  quality_step step;
  if (current == base / 2) {
    step = {true, base * 6 / 10, 30};
  } else if (current == base * 6 / 10) {
    step = {true, base * 8 / 10, 20};
  } else if (current == base * 8 / 10) {
    step = {true, base, 10};
  } else {
    return step;  // at B, or a rate off the ladder: kept
  }
  if (current == step.kbps)
    return quality_step{};
  if (!with_fec)
    step.fec_percent = -1;
  return step;
}

}  // namespace

quality_step camera_quality(uint32_t level, int base, int current, int64_t estimate) {
  if (level <= 2)
    return step_up(base, current, true);
  if (estimate >= 0 && current < estimate / 1000)
    return quality_step{};  // the link carries more than we send: not our loss
  quality_step step;
  step.change = true;
  if (level >= 10)
    step.kbps = base / 2;
  else if (level >= 5)
    step.kbps = base * 6 / 10;
  else
    step.kbps = base * 8 / 10;
  step.fec_percent = level >= 5 ? 30 : 20;
  if (step.kbps == current)
    return quality_step{};
  return step;
}

quality_step screen_quality(uint32_t level, int base, int current, int64_t estimate) {
  if (level <= 5)
    return step_up(base, current, false);
  if (estimate >= 0 && current < estimate / 1000)
    return quality_step{};
  quality_step step;
  step.change = true;
  if (level >= 15)
    step.kbps = base / 2;
  else if (level >= 10)
    step.kbps = base * 6 / 10;
  else
    step.kbps = base * 8 / 10;
  if (step.kbps == current)
    return quality_step{};
  return step;
}

}  // namespace pavo

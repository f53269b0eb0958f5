#include "sync_rules.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/common.h>
}

namespace sync_rules {

double target_delay(double delay, double diff, double max_frame_duration) {
  const double sync_threshold = std::max(sync_threshold_min, std::min(sync_threshold_max, delay));
  if (!std::isnan(diff) && std::fabs(diff) < max_frame_duration) {
    if (diff <= -sync_threshold)
      delay = std::max(0.0, delay + diff);
    else if (diff >= sync_threshold)
      delay = 2 * delay;
  }
  return delay;
}

int total_seconds(int64_t duration, int64_t start_time) {
  if (duration == AV_NOPTS_VALUE || duration <= 0)
    return 0;
  const int64_t start =
      (start_time != AV_NOPTS_VALUE && start_time > 0 && start_time <= duration) ? start_time : 0;
  return static_cast<int>((duration - start + 500000) / 1000000);
}

seek_target seek_target_for(int percent, int seek_by_bytes, int64_t duration, int64_t start_time,
                            int64_t size) {
  if (!seek_by_bytes && duration != AV_NOPTS_VALUE && duration > 0) {
    int64_t pos = duration * percent / 100;
    if (start_time != AV_NOPTS_VALUE)
      pos += start_time;
    return {pos, false};
  }
  return {std::max<int64_t>(size, 0) * percent / 100, true};
}

int audio_buffer_samples(int freq) {
  return std::max(audio_min_buffer_size,
                  1 << av_log2(static_cast<unsigned>(freq / audio_max_callbacks_per_sec)));
}

}  // namespace sync_rules

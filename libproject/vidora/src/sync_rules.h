// The player's arithmetic that does not depend on threads: constants, the delay before the
// next picture, the duration in whole seconds and the seek target.
#pragma once

#include <cstdint>

namespace sync_rules {

constexpr int video_picture_queue_size = 3;
constexpr int sample_queue_size = 9;
constexpr int subpicture_queue_size = 16;
constexpr int max_queue_size = 15 * 1024 * 1024;
constexpr int min_frames = 25;
constexpr double refresh_rate = 0.01;
constexpr double sync_threshold_min = 0.04;
constexpr double sync_threshold_max = 0.15;
constexpr double no_sync_threshold = 10.0;
constexpr double external_clock_min_frames = 2;
constexpr double external_clock_max_frames = 10;
constexpr double external_clock_speed_min = 0.900;
constexpr double external_clock_speed_max = 1.010;
constexpr double external_clock_speed_step = 0.001;
constexpr int audio_diff_avg_nb = 20;
constexpr double sample_correction_percent_max = 10;
constexpr int audio_min_buffer_size = 512;
constexpr int audio_max_callbacks_per_sec = 30;

// How long the current picture stays before the next one, given its nominal duration
// `delay` and diff = video clock - master clock. A picture behind the master is cut short
// (never below 0), one ahead is held twice as long; nothing else changes the delay.
double target_delay(double delay, double diff, double max_frame_duration);

// Whole seconds of a container of `duration` microseconds starting at `start_time`
// (rounded to nearest). The start time counts only when positive and not beyond the
// duration.
int total_seconds(int64_t duration, int64_t start_time);

// Where a seek to `percent` goes: a time in microseconds (by_bytes false) or a byte
// offset (by_bytes true). Time is used unless seeking by bytes is on or the duration is
// unknown; `start_time` is AV_NOPTS_VALUE when unset.
struct seek_target {
  int64_t pos;
  bool by_bytes;
};
seek_target seek_target_for(int percent, int seek_by_bytes, int64_t duration, int64_t start_time,
                            int64_t size);

// Samples per SDL audio callback for a device running at `freq`.
int audio_buffer_samples(int freq);

}  // namespace sync_rules

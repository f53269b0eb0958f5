#include "play_clock.h"

#include <cmath>

#include "sync_rules.h"

extern "C" {
#include <libavutil/time.h>
}

double clock_now() {
  return av_gettime_relative() / 1000000.0;
}

void play_clock::init(int* queue_serial) {
  speed = 1.0;
  paused = 0;
  queue_serial_ = queue_serial ? queue_serial : &serial;
  set(NAN, -1);
}

double play_clock::get() const {
  if (*queue_serial_ != serial)
    return NAN;
  if (paused)
    return pts;
  const double time = clock_now();
  return pts_drift + time - (time - last_updated) * (1.0 - speed);
}

void play_clock::set_at(double new_pts, int new_serial, double time) {
  pts = new_pts;
  last_updated = time;
  pts_drift = pts - time;
  serial = new_serial;
}

void play_clock::set(double new_pts, int new_serial) {
  set_at(new_pts, new_serial, clock_now());
}

void play_clock::set_speed(double new_speed) {
  set(get(), serial);
  speed = new_speed;
}

void play_clock::sync_to_slave(const play_clock& slave) {
  const double clock = get();
  const double slave_clock = slave.get();
  if (!std::isnan(slave_clock) &&
      (std::isnan(clock) || std::fabs(clock - slave_clock) > sync_rules::no_sync_threshold))
    set(slave_clock, slave.serial);
}

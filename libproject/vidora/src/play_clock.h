// A playback clock: a media time that runs on from the moment it was last set, at a speed.
// A clock whose serial no longer matches its queue's serial is obsolete (NaN).
#pragma once

class play_clock {
public:
  // `queue_serial` is the serial of the packet queue the clock follows; null means the
  // clock follows itself (the external clock).
  void init(int* queue_serial);
  double get() const;
  void set_at(double pts, int serial, double time);
  void set(double pts, int serial);
  void set_speed(double speed);
  // Follows `slave` when this clock is unset or has drifted beyond the no-sync threshold.
  void sync_to_slave(const play_clock& slave);

  double pts = 0;
  double pts_drift = 0;
  double last_updated = 0;
  double speed = 1.0;
  int serial = -1;
  int paused = 0;

private:
  int* queue_serial_ = nullptr;
};

// Seconds of the monotonic clock.
double clock_now();

// velmedia: send-side bandwidth estimation for one video stream.
//
// The estimate starts at the configured start rate and follows the receivers' loss reports
// (MCU message 16): little loss raises it step by step towards the maximum, heavy loss lowers
// it towards the minimum. Queuing delay measured on the way to the MCU (growing delay means
// the link is full before any packet is lost) lowers it too and holds it from rising. It
// always stays within [min, max].
#pragma once

#include <cstdint>

// Told when the estimate changes. Called on the thread of the velbandwidth_ctrl call that
// changed it, from inside that call.
class bitrate_observer {
public:
  // slot 0
  virtual ~bitrate_observer() = default;
  // slot 1: the new estimate in bit/s.
  virtual void on_bitrate_changed(uint32_t bitrate_bps) = 0;
};

// Bandwidth estimator. Thread-safe.
class velbandwidth_ctrl {
public:
  // Null when `observer` is null.
  static velbandwidth_ctrl* create(bitrate_observer* observer);

  // slot 0
  virtual ~velbandwidth_ctrl() = default;

  // slot 1: sets start, minimum and maximum in bit/s (0 < min <= start <= max) and resets the
  // estimate to start. 0 done, -1 bad values.
  virtual int configure(int start_bps, int min_bps, int max_bps) = 0;
  // slot 2: changes minimum and maximum, keeping the estimate (moved into the new range). 0
  // done, -1 bad values or not configured.
  virtual int reconfigure(int min_bps, int max_bps) = 0;
  // slot 3: the current estimate in bit/s; -1 when not configured.
  virtual int current_estimate() = 0;
  // slot 4: one receiver report: `loss` is the fraction of packets lost since the last report
  // in 1/256 units (0 none, 255 nearly all). 0 done, -1 not configured.
  virtual int on_receiver_feedback(uint32_t loss) = 0;
  // slot 5: the queuing delay of the stream's packets on the way to the MCU, in ms (their
  // transit time above the smallest seen lately). 0 done, -1 not configured (or, for an
  // estimator without a delay part, not supported).
  virtual int on_delay_feedback(uint32_t queue_delay_ms) {
    (void)queue_delay_ms;
    return -1;
  }
};

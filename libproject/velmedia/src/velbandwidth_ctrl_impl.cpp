// velbandwidth_ctrl: our own send-side estimator, driven once a second by the MCU's reports.
//
// Loss (1/256 units): below 2 % the estimate grows by 8 % (plus 1 kbit/s so that a small
// estimate still moves); 2-10 % holds it; above 10 % it drops by half the loss share.
// Queuing delay (ms) on the way to the MCU: above 200 ms the link is overused and the estimate
// drops by 15 %; above 50 ms and growing by more than 10 ms it drops by 8 %; while the last
// delay report said "overused" the estimate does not grow, until the delay is back below 30 ms.
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>

#include "velmedia/velbandwidth_ctrl.h"

namespace velmedia_internal {
namespace {

constexpr uint32_t low_loss = 5;    // about 2 % in 1/256 units
constexpr uint32_t high_loss = 25;  // about 10 %
constexpr uint32_t overuse_delay_ms = 200;
constexpr uint32_t rising_delay_ms = 50;
constexpr uint32_t rise_step_ms = 10;
constexpr uint32_t normal_delay_ms = 30;

class bandwidth_estimator : public velbandwidth_ctrl {
public:
  explicit bandwidth_estimator(bitrate_observer* observer) : observer_(observer) {}

  int configure(int start_bps, int min_bps, int max_bps) override {
    if (min_bps <= 0 || start_bps < min_bps || max_bps < start_bps)
      return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    min_ = min_bps;
    max_ = max_bps;
    estimate_ = start_bps;
    overused_ = false;
    last_delay_ms_ = 0;
    configured_ = true;
    return 0;
  }

  int reconfigure(int min_bps, int max_bps) override {
    if (min_bps <= 0 || max_bps < min_bps)
      return -1;
    int changed = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!configured_)
        return -1;
      min_ = min_bps;
      max_ = max_bps;
      changed = set_estimate(estimate_);
    }
    notify(changed);
    return 0;
  }

  int current_estimate() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return configured_ ? static_cast<int>(estimate_) : -1;
  }

  int on_receiver_feedback(uint32_t loss) override {
    int changed = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!configured_)
        return -1;
      loss = std::min<uint32_t>(loss, 255);
      if (loss < low_loss) {
        if (!overused_)
          changed = set_estimate(estimate_ * 1.08 + 1000);
      } else if (loss > high_loss) {
        changed = set_estimate(estimate_ * (1.0 - loss / 512.0));
      }
    }
    notify(changed);
    return 0;
  }

  int on_delay_feedback(uint32_t delay_ms) override {
    int changed = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!configured_)
        return -1;
      if (delay_ms > overuse_delay_ms) {
        overused_ = true;
        changed = set_estimate(estimate_ * 0.85);
      } else if (delay_ms > rising_delay_ms && delay_ms > last_delay_ms_ + rise_step_ms) {
        overused_ = true;
        changed = set_estimate(estimate_ * 0.92);
      } else if (delay_ms < normal_delay_ms) {
        overused_ = false;
      }
      last_delay_ms_ = delay_ms;
    }
    notify(changed);
    return 0;
  }

private:
  // Under the mutex: the new estimate within [min, max]; the value to report when it moved,
  // else 0.
  int set_estimate(double value) {
    const double bounded = std::clamp(value, double(min_), double(max_));
    const int64_t next = static_cast<int64_t>(bounded);
    if (next == static_cast<int64_t>(estimate_))
      return 0;
    estimate_ = static_cast<double>(next);
    return static_cast<int>(next);
  }

  // Outside the mutex: the observer may ask for the estimate.
  void notify(int changed) {
    if (changed > 0)
      observer_->on_bitrate_changed(static_cast<uint32_t>(changed));
  }

  bitrate_observer* const observer_;
  std::mutex mutex_;
  bool configured_ = false;
  int min_ = 0, max_ = 0;
  double estimate_ = 0;
  bool overused_ = false;
  uint32_t last_delay_ms_ = 0;
};

}  // namespace
}  // namespace velmedia_internal

velbandwidth_ctrl* velbandwidth_ctrl::create(bitrate_observer* observer) {
  if (!observer)
    return nullptr;
  return new (std::nothrow) velmedia_internal::bandwidth_estimator(observer);
}

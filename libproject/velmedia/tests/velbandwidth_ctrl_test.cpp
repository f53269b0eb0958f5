// The send-side bandwidth estimator: loss and delay reports move it within [min, max].
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "velmedia/velbandwidth_ctrl.h"

namespace {

struct recording : bitrate_observer {
  std::vector<uint32_t> changes;
  velbandwidth_ctrl* ctrl = nullptr;
  int seen_inside = 0;
  void on_bitrate_changed(uint32_t bps) override {
    changes.push_back(bps);
    if (ctrl)
      seen_inside = ctrl->current_estimate();  // allowed from inside the call
  }
};

struct estimator {
  recording observer;
  std::unique_ptr<velbandwidth_ctrl> ctrl{velbandwidth_ctrl::create(&observer)};
  estimator() { observer.ctrl = ctrl.get(); }
};

TEST(BandwidthCtrl, NeedsAValidConfiguration) {
  EXPECT_EQ(velbandwidth_ctrl::create(nullptr), nullptr);
  estimator e;
  EXPECT_EQ(e.ctrl->current_estimate(), -1);
  EXPECT_EQ(e.ctrl->on_receiver_feedback(0), -1);
  EXPECT_EQ(e.ctrl->on_delay_feedback(0), -1);
  EXPECT_EQ(e.ctrl->reconfigure(100, 200), -1);
  EXPECT_EQ(e.ctrl->configure(300000, 400000, 500000), -1);  // start below min
  EXPECT_EQ(e.ctrl->configure(600000, 100000, 500000), -1);  // start above max
  EXPECT_EQ(e.ctrl->configure(0, 0, 0), -1);
  EXPECT_EQ(e.ctrl->configure(300000, 100000, 500000), 0);
  EXPECT_EQ(e.ctrl->current_estimate(), 300000);
  EXPECT_TRUE(e.observer.changes.empty());
}

TEST(BandwidthCtrl, LittleLossClimbsToTheMaximumAndHeavyLossFallsToTheMinimum) {
  estimator e;
  ASSERT_EQ(e.ctrl->configure(300000, 100000, 500000), 0);
  int last = 300000;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(e.ctrl->on_receiver_feedback(0), 0);
    EXPECT_GE(e.ctrl->current_estimate(), last);
    last = e.ctrl->current_estimate();
  }
  EXPECT_EQ(last, 500000);
  const std::size_t told = e.observer.changes.size();
  EXPECT_GE(told, 5u);
  EXPECT_EQ(e.observer.changes.back(), 500000u);
  EXPECT_EQ(e.observer.seen_inside, 500000);
  e.ctrl->on_receiver_feedback(0);
  EXPECT_EQ(e.observer.changes.size(), told);  // at the maximum: no change, no call

  e.ctrl->on_receiver_feedback(15);  // about 6 %: holds
  EXPECT_EQ(e.ctrl->current_estimate(), 500000);
  e.ctrl->on_receiver_feedback(64);  // 25 %: falls by an eighth
  EXPECT_EQ(e.ctrl->current_estimate(), 437500);
  for (int i = 0; i < 30; ++i)
    e.ctrl->on_receiver_feedback(255);
  EXPECT_EQ(e.ctrl->current_estimate(), 100000);
}

TEST(BandwidthCtrl, GrowingDelayCutsAndHoldsTheEstimate) {
  estimator e;
  ASSERT_EQ(e.ctrl->configure(400000, 100000, 1000000), 0);
  e.ctrl->on_delay_feedback(10);
  e.ctrl->on_receiver_feedback(0);
  const int before = e.ctrl->current_estimate();
  EXPECT_GT(before, 400000);
  e.ctrl->on_delay_feedback(80);  // queue building up
  const int cut = e.ctrl->current_estimate();
  EXPECT_LT(cut, before);
  e.ctrl->on_receiver_feedback(0);  // no loss yet, but the link is full: no growth
  EXPECT_EQ(e.ctrl->current_estimate(), cut);
  e.ctrl->on_delay_feedback(300);  // heavily overused
  EXPECT_LT(e.ctrl->current_estimate(), cut);
  e.ctrl->on_delay_feedback(5);  // drained
  const int drained = e.ctrl->current_estimate();
  e.ctrl->on_receiver_feedback(0);
  EXPECT_GT(e.ctrl->current_estimate(), drained);
}

TEST(BandwidthCtrl, ReconfigureMovesTheEstimateIntoTheNewRange) {
  estimator e;
  ASSERT_EQ(e.ctrl->configure(300000, 100000, 500000), 0);
  EXPECT_EQ(e.ctrl->reconfigure(400000, 300000), -1);
  ASSERT_EQ(e.ctrl->reconfigure(50000, 200000), 0);
  EXPECT_EQ(e.ctrl->current_estimate(), 200000);
  ASSERT_EQ(e.observer.changes.size(), 1u);
  EXPECT_EQ(e.observer.changes[0], 200000u);
  ASSERT_EQ(e.ctrl->reconfigure(50000, 900000), 0);
  EXPECT_EQ(e.ctrl->current_estimate(), 200000);  // kept
  EXPECT_EQ(e.observer.changes.size(), 1u);
}

}  // namespace

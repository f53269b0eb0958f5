// The own video senders: RTP timestamps and the retransmission history, the camera and screen
// senders with scripted devices, and the bitrate and FEC rules of the MCU's feedback.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "libpavo/libpavo.h"
#include "screen_capture.h"
#include "velvideo_capture.h"
#include "video_quality.h"
#include "video_rtp_send.h"
#include "video_test_support.h"
#include "wirebytes/byte_order.h"

namespace {

using namespace video_test;

constexpr uint32_t own_id = 4242;

uint16_t seq_of(const bytes& p) {
  return wirebytes::get_be16(p.data() + 2);
}
uint32_t ts_of(const bytes& p) {
  return wirebytes::get_be32(p.data() + 4);
}
int pt_of(const bytes& p) {
  return p[1] & 0x7f;
}

// An Annex-B frame of `size` bytes.
bytes encoded_frame(std::size_t size, bool key) {
  bytes f(size, 0x55);
  f[0] = f[1] = f[2] = 0;
  f[3] = 1;
  f[4] = key ? 0x67 : 0x41;
  return f;
}

TEST(VideoRtpSend, TimestampsStartAtZeroAndNeverRepeat) {
  media_port mcu;
  video_rtp_send sender("127.0.0.1", mcu.port(), own_id, 1);
  ASSERT_TRUE(sender.is_open());
  const bytes f = encoded_frame(100, true);
  for (uint32_t ts : {5000u, 5066u, 5066u, 5010u, 5200u})
    sender.send_frame(f.data(), static_cast<unsigned>(f.size()), ts, false);
  std::vector<uint32_t> seen;
  while (seen.size() < 5) {
    auto p = mcu.next();
    ASSERT_TRUE(p);
    if (pt_of(*p) == 100)
      seen.push_back(ts_of(*p));
  }
  // The first fixes the base; a repeated or earlier one becomes previous + 1.
  EXPECT_EQ(seen, (std::vector<uint32_t>{0, 66, 67, 68, 200}));
}

TEST(VideoRtpSend, KeepsAboutTwoSecondsForRetransmission) {
  media_port mcu;
  video_rtp_send sender("127.0.0.1", mcu.port(), own_id, 1);
  ASSERT_TRUE(sender.is_open());
  const bytes f = encoded_frame(1500, false);  // two packets a frame
  for (uint32_t i = 0; i <= 40; ++i)           // 0 .. 4000 ms, 100 ms apart
    sender.send_frame(f.data(), static_cast<unsigned>(f.size()), 100 * i, false);
  const std::vector<uint16_t> kept = sender.kept();
  ASSERT_FALSE(kept.empty());
  // The newest is 4000: what is kept reaches back no more than 2000 ms (and at least 1900).
  EXPECT_EQ(kept.back(), 81);
  EXPECT_GE(kept.front(), 38);
  EXPECT_LE(kept.front(), 40);
  for (std::size_t i = 1; i < kept.size(); ++i)
    EXPECT_EQ(kept[i], static_cast<uint16_t>(kept[i - 1] + 1));
  std::vector<bytes> originals(82);
  std::size_t got = 0;
  while (got < 82) {
    auto p = mcu.next();
    ASSERT_TRUE(p);
    if (pt_of(*p) == 100) {
      originals[seq_of(*p)] = *p;
      ++got;
    }
  }
  mcu.drain(std::chrono::milliseconds(50));

  // A number no longer kept is not sent; a kept one is sent again byte for byte.
  const uint16_t old_and_kept[] = {3, 80};
  sender.retransmit(old_and_kept, 2);
  auto again = mcu.next();
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, originals[80]);
  const uint16_t gone[] = {3, 10, 30};
  sender.retransmit(gone, 3);
  const uint16_t marker[] = {81};
  sender.retransmit(marker, 1);
  auto next = mcu.next();
  ASSERT_TRUE(next);
  EXPECT_EQ(seq_of(*next), 81);  // nothing came before it
}

TEST(VideoQuality, CameraCutsAndStepsBackUpTheLadder) {
  // Level 12 with R = B and the estimate not above R: R = B/2 with FEC 30.
  auto step = pavo::camera_quality(12, 1000, 1000, 900000);
  EXPECT_TRUE(step.change);
  EXPECT_EQ(step.kbps, 500);
  EXPECT_EQ(step.fec_percent, 30);
  // An estimate above the rate: the loss is not ours, nothing changes.
  EXPECT_FALSE(pavo::camera_quality(12, 1000, 1000, 1200000).change);
  EXPECT_EQ(pavo::camera_quality(7, 1000, 1000, 0).kbps, 600);
  EXPECT_EQ(pavo::camera_quality(3, 1000, 1000, 0).kbps, 800);
  EXPECT_EQ(pavo::camera_quality(3, 1000, 1000, 0).fec_percent, 20);
  EXPECT_FALSE(pavo::camera_quality(3, 1000, 800, 0).change);  // already there
  EXPECT_FALSE(pavo::camera_quality(0, 1000, 1000, 0).change);
  EXPECT_FALSE(pavo::camera_quality(1, 1000, 700, 0).change);  // off the ladder: kept
  // Screen: thresholds 6 / 10 / 15, the FEC share untouched.
  auto screen = pavo::screen_quality(12, 800, 800, 0);
  EXPECT_EQ(screen.kbps, 480);
  EXPECT_EQ(screen.fec_percent, -1);
  EXPECT_FALSE(pavo::screen_quality(5, 800, 800, 0).change);
  EXPECT_EQ(pavo::screen_quality(15, 800, 800, 0).kbps, 400);
  EXPECT_EQ(pavo::screen_quality(0, 800, 400, 0).kbps, 480);
  EXPECT_EQ(pavo::screen_quality(0, 800, 400, 0).fec_percent, -1);
}

class CameraSender : public ::testing::Test {
protected:
  void SetUp() override {
    camera_state = std::make_shared<scripted_camera::state>();
    auto state = camera_state;
    sender = std::make_unique<pavo::velvideo_capture>(
        &ui, 0, [state] { return new scripted_camera(state); });
    sender->set_capture_param(160, 120, 15, 300);
  }

  recording_ui ui;
  media_port mcu;
  std::shared_ptr<scripted_camera::state> camera_state;
  std::unique_ptr<pavo::velvideo_capture> sender;
};

TEST_F(CameraSender, ShowsEncodesAndSendsEachPicture) {
  ASSERT_EQ(sender->start("127.0.0.1", mcu.port(), own_id, 500, 100), 0);
  ASSERT_TRUE(push_picture(*camera_state, 50));
  ASSERT_TRUE(push_picture(*camera_state, 60));
  ASSERT_TRUE(ui.wait_frames(2));
  const auto previews = ui.take_frames();
  EXPECT_EQ(previews[0].user, own_id);
  EXPECT_EQ(previews[0].kind, media_kind_video);
  EXPECT_EQ(previews[0].width, 160);
  // Both pictures leave as media packets of this user, the first a key frame.
  auto first = mcu.next();
  ASSERT_TRUE(first);
  EXPECT_EQ(pt_of(*first), 100);
  EXPECT_EQ(seq_of(*first), 0);
  EXPECT_EQ((*first)[12], 1);         // the RED byte
  EXPECT_EQ((*first)[17] & 0x1f, 7);  // after the start code: the parameter sets
  sender->stop();
  EXPECT_FALSE(camera_state->open);
  sender->stop();  // twice is harmless
}

// The preview comes in the layout the observer chose, converted once: here 32-bit words.
TEST_F(CameraSender, ShowsThePictureInTheChosenLayout) {
  ui.set_frame_format(pavo_frame_rgb32);
  ui.keep_pixels(true);
  ASSERT_EQ(sender->start("127.0.0.1", mcu.port(), own_id, 500, 100), 0);
  ASSERT_TRUE(push_picture(*camera_state, 81, 90, 240));  // red
  ASSERT_TRUE(ui.wait_frames(1));
  const auto previews = ui.take_frames();
  ASSERT_EQ(previews[0].pixels.size(), 160u * 120u * 4u);
  uint32_t word = 0;
  std::memcpy(&word, previews[0].pixels.data() + 4 * (60 * 160 + 80), 4);
  EXPECT_EQ(word >> 24, 0xffu);
  EXPECT_GT((word >> 16) & 0xff, 230u);
  EXPECT_LT((word >> 8) & 0xff, 25u);
  EXPECT_LT(word & 0xff, 25u);
  // Back to the default: 3 bytes, R first.
  ui.set_frame_format(pavo_frame_rgb24);
  ASSERT_TRUE(push_picture(*camera_state, 81, 90, 240));
  ASSERT_TRUE(ui.wait_frames(1));
  const auto rgb = ui.take_frames();
  ASSERT_EQ(rgb[0].pixels.size(), 160u * 120u * 3u);
  EXPECT_GT(rgb[0].pixels[3 * (60 * 160 + 80)], 230u);
  sender->stop();
}

TEST_F(CameraSender, StepsDownAndBackUpWithTheFecShare) {
  ASSERT_EQ(sender->start("127.0.0.1", mcu.port(), own_id, 500, 100), 0);
  EXPECT_EQ(sender->base_kbps(), 300);
  EXPECT_EQ(sender->current_kbps(), 300);
  EXPECT_EQ(sender->fec_percent(), 10);
  sender->quality_level(12);  // the estimate starts at 300 kbit/s: not above R
  EXPECT_EQ(sender->current_kbps(), 150);
  EXPECT_EQ(sender->fec_percent(), 30);
  const int expected[][2] = {{180, 30}, {240, 20}, {300, 10}};
  for (const auto& e : expected) {
    sender->quality_level(0);
    EXPECT_EQ(sender->current_kbps(), e[0]);
    EXPECT_EQ(sender->fec_percent(), e[1]);
  }
  sender->quality_level(0);  // at B: kept
  EXPECT_EQ(sender->current_kbps(), 300);
  // The estimate rising moves the base with it.
  sender->bandwidth_feedback(0);
  EXPECT_GT(sender->base_kbps(), 300);
  EXPECT_EQ(sender->current_kbps(), sender->base_kbps());
  // Still encoding after all the re-creations.
  mcu.drain(std::chrono::milliseconds(50));
  ASSERT_TRUE(push_picture(*camera_state, 80));
  EXPECT_TRUE(mcu.next());
}

// A camera that goes silent is opened again once; only one that stays silent after that is
// given up (the time-out, once), and pictures it sends later are shown but queued for nobody.
TEST_F(CameraSender, ASilentCameraIsOpenedAgainOnceBeforeItIsGivenUp) {
  sender = std::make_unique<pavo::velvideo_capture>(
      &ui, 0, [state = camera_state] { return new scripted_camera(state); }, 300);
  sender->set_capture_param(160, 120, 15, 300);
  ASSERT_EQ(sender->start("127.0.0.1", mcu.port(), own_id, 500, 100), 0);
  auto opens = [&] {
    std::lock_guard<std::mutex> lock(camera_state->mutex);
    return camera_state->opens;
  };
  ASSERT_TRUE(testsupport::eventually([&] { return opens() == 2; }));
  ASSERT_TRUE(push_picture(*camera_state, 70));
  EXPECT_TRUE(mcu.next());  // encoded and sent: the sender goes on
  // Silent again: a second chance, then given up.
  ASSERT_TRUE(ui.wait_event(pavo_event_camera_timeout));
  EXPECT_EQ(opens(), 3);
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(push_picture(*camera_state, 90));
  EXPECT_TRUE(ui.wait_frames(6));
  EXPECT_EQ(sender->queued(), 0u);
  EXPECT_EQ(ui.count_events(pavo_event_camera_timeout), 1u);
  sender->stop();
  EXPECT_FALSE(camera_state->open);
}

// An encoder that falls behind sends fewer pictures, not ever later ones: the newest wait.
TEST(FrameQueue, KeepsTheNewestPicturesWhenTheEncoderFallsBehind) {
  pavo::frame_queue queue;
  const uint8_t picture[4] = {1, 2, 3, 4};
  for (uint32_t ms = 1; ms <= 10; ++ms)
    queue.push(picture, sizeof picture, ms);
  EXPECT_EQ(queue.size(), 3u);
  EXPECT_EQ(queue.dropped(), 7u);
  pavo::queued_frame oldest;
  ASSERT_EQ(queue.pop(&oldest, 0), pavo::frame_queue::wait_result::frame);
  EXPECT_EQ(oldest.capture_ms, 8u);
}

TEST(CameraSenderStart, FailsWhenTheCameraDoesNotOpen) {
  recording_ui ui;
  pavo::velvideo_capture sender(&ui, 0, [] { return static_cast<velcapture*>(nullptr); });
  sender.set_capture_param(160, 120, 15, 300);
  EXPECT_EQ(sender.start("127.0.0.1", 9, own_id, 500, 100), -1);
}

class ScreenSender : public ::testing::Test {
protected:
  std::unique_ptr<pavo::screen_capture> make() {
    auto state = grab_state;
    return std::make_unique<pavo::screen_capture>(
        &ui, [state](int, int, int) { return new scripted_grabber(state); });
  }

  recording_ui ui;
  media_port mcu;
  std::shared_ptr<scripted_grabber::state> grab_state = std::make_shared<scripted_grabber::state>();
};

TEST_F(ScreenSender, AStillShareWhoseThreeGrabsFailDoesNotStart) {
  grab_state->failures_left = 3;
  auto sender = make();
  sender->set_source(77, 0);
  EXPECT_EQ(sender->start("127.0.0.1", mcu.port(), own_id, 1500, 301), -1);
  EXPECT_EQ(grab_state->grabs, 3);
  sender->stop();
  EXPECT_FALSE(mcu.next(std::chrono::milliseconds(200)));

  // Two failures leave the third grab: it starts.
  grab_state->failures_left = 2;
  grab_state->grabs = 0;
  auto second = make();
  second->set_source(77, 0);
  EXPECT_EQ(second->start("127.0.0.1", mcu.port(), own_id, 1500, 301), 0);
  EXPECT_EQ(grab_state->grabs, 3);
}

TEST_F(ScreenSender, LiveTicksShowAndSendPausedTicksRepeatTheLastPicture) {
  auto sender = make();
  sender->set_source(0, 1);
  ASSERT_EQ(sender->start("127.0.0.1", mcu.port(), own_id, 1500, 301), 0);
  ASSERT_TRUE(ui.wait_frames(1));  // the timer grabs and shows
  EXPECT_EQ(ui.take_frames()[0].kind, media_kind_screen);
  EXPECT_TRUE(mcu.next());
  // A live capture keeps its rate whatever the level.
  sender->quality_level(20);
  EXPECT_EQ(sender->current_kbps(), 800);

  sender->grabber_state(3);  // pause: the grabber goes
  EXPECT_FALSE(sender->has_grabber());
  const int grabs = [&] {
    std::lock_guard<std::mutex> lock(grab_state->mutex);
    return grab_state->grabs;
  }();
  mcu.drain(std::chrono::milliseconds(50));
  sender->tick();  // repeats the last picture: sent, not shown, nothing grabbed
  EXPECT_TRUE(mcu.next());
  {
    std::lock_guard<std::mutex> lock(grab_state->mutex);
    EXPECT_EQ(grab_state->grabs, grabs);
  }
  sender->quality_level(20);  // paused: the screen rules apply, FEC untouched
  EXPECT_EQ(sender->current_kbps(), 400);
  EXPECT_EQ(sender->fec_percent(), 10);
  sender->grabber_state(2);  // resume
  EXPECT_TRUE(sender->has_grabber());
  sender->grabber_state(7);  // ignored
  EXPECT_TRUE(sender->has_grabber());
  sender->stop();
}

}  // namespace

// The whiteboard's layer over the own screen share (event 18): blending at the encoder's door,
// the question's rate, answers that do not count, the path as the others see it, the camera.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>

#include "libpavo/libpavo.h"
#include "screen_capture.h"
#include "screen_overlay.h"
#include "velmedia/velconvert.h"
#include "velvideo_capture.h"
#include "video_rtp_recv.h"
#include "video_test_support.h"

namespace {

using namespace video_test;
using pavo::screen_overlay;
using std::chrono::milliseconds;

constexpr uint32_t own_id = 4343;

// Answers event 18 as the test says (set before the sender's thread starts).
struct layer_ui : recording_ui {
  std::function<void(mark_bitmap_t&)> answer;
  void media_event(int event, void* data) override {
    if (event == pavo_event_mark_bitmap && answer)
      answer(*static_cast<mark_bitmap_t*>(data));
    recording_ui::media_event(event, data);
  }
};

// A w x h layer of word(x, y).
std::function<void(mark_bitmap_t&)> layer(int w, int h, std::function<uint32_t(int, int)> word) {
  return [=](mark_bitmap_t& r) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t v = word(x, y);
        std::memcpy(r.data + 4 * (static_cast<std::size_t>(y) * w + x), &v, 4);
      }
    r.width = w, r.height = h, r.len = w * h * 4;
  };
}
// Opaque red over the upper-left quarter of the full-size layer.
auto red_quarter =
    layer(1920, 1080, [](int x, int y) { return x < 960 && y < 540 ? 0xffff0000u : 0u; });

bytes flat(int w, int h, uint8_t y, uint8_t u, uint8_t v) {
  bytes p(velmedia_i420_size(w, h), u);
  std::fill(p.begin(), p.begin() + w * h, y);
  std::fill(p.begin() + w * h + ((w + 1) / 2) * ((h + 1) / 2), p.end(), v);
  return p;
}

class OverlaySeam : public ::testing::Test {
protected:
  bytes apply(bytes picture, int w, int h, milliseconds at = milliseconds(0)) {
    overlay.apply(&ui, picture.data(), w, h, t0 + at);
    return picture;
  }
  layer_ui ui;
  screen_overlay overlay;
  const screen_overlay::clock::time_point t0 = screen_overlay::clock::now();
};

TEST_F(OverlaySeam, LaysAnOpaqueLayerScaledToThePictureAndLeavesTheRest) {
  ui.answer = red_quarter;
  const bytes after = apply(flat(64, 36, 100, 100, 100), 64, 36);
  const uint8_t* u = after.data() + 64 * 36;
  for (int y = 0; y < 36; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool red = x < 32 && y < 18;  // red is Y 82, U 90, V 240 in BT.601
      ASSERT_EQ(after[y * 64 + x], red ? 82 : 100) << x << "," << y;
      if (x % 2 == 0 && y % 2 == 0) {
        ASSERT_EQ(u[y / 2 * 32 + x / 2], red ? 90 : 100) << x << "," << y;
        ASSERT_EQ(u[18 * 32 + y / 2 * 32 + x / 2], red ? 240 : 100) << x << "," << y;
      }
    }
}

// Premultiplied source over gives what it gives in RGB: half-transparent white over blue
// (Y 41, U 240, V 110) is RGB (128, 128, 255): Y 138, U 184, V 119. An odd size reaches the
// last column and row.
TEST_F(OverlaySeam, BlendsPremultipliedSourceOverInThePicturesColourSpace) {
  ui.answer = layer(2, 2, [](int, int) { return 0x80808080u; });
  const bytes after = apply(flat(5, 3, 41, 240, 110), 5, 3);
  for (int i = 0; i < 15; ++i)
    EXPECT_NEAR(after[i], 138, 2) << i;
  for (int i = 0; i < 6; ++i) {
    EXPECT_NEAR(after[15 + i], 184, 2) << i;
    EXPECT_NEAR(after[21 + i], 119, 2) << i;
  }
}

// A steady 200 ms between questions, not frames; the answer holds in between. len 0 lays
// nothing over.
TEST_F(OverlaySeam, AsksAtMostEvery200MsAndKeepsTheAnswerInBetween) {
  const bytes plain = flat(64, 36, 100, 100, 100);
  ui.answer = red_quarter;
  EXPECT_NE(apply(plain, 64, 36), plain);
  ui.answer = [](mark_bitmap_t& r) { r.len = 0; };
  for (int ms : {50, 199})
    EXPECT_NE(apply(plain, 64, 36, milliseconds(ms)), plain) << ms;
  EXPECT_EQ(ui.count_events(pavo_event_mark_bitmap), 1u);
  EXPECT_EQ(apply(plain, 64, 36, milliseconds(200)), plain);
  EXPECT_EQ(overlay.asks(), 2);
}

TEST_F(OverlaySeam, IgnoresAnswersThatDoNotFit) {
  struct bad {
    int width, height, len;
    bool other_buffer;
  };
  const bad answers[] = {{-1920, 1080, 1920 * 1080 * 4, false},
                         {2, 2, 20, false},                     // len too large
                         {1921, 1080, 1921 * 1080 * 4, false},  // above the capacity
                         {0x40000001, 4, 16, false},            // 16 when wrapped in 32 bits
                         {2, 2, 16, true}};                     // not written into our buffer
  static uint8_t elsewhere[16];
  const bytes plain = flat(16, 16, 30, 40, 50);
  int i = 0;
  for (const bad& b : answers) {
    ui.answer = [b](mark_bitmap_t& r) {
      std::memset(r.data, 0xff, 64);  // opaque white, were it taken
      r.data = b.other_buffer ? elsewhere : r.data;
      r.width = b.width, r.height = b.height, r.len = b.len;
    };
    EXPECT_EQ(apply(plain, 16, 16, milliseconds(200 * i)), plain) << i;
    ++i;
  }
  EXPECT_EQ(overlay.asks(), i);
}

// What a viewer decodes: the screen sender's packets relayed to a receiver.
TEST(OverlayThroughTheWire, TheOthersSeeTheLayerOverTheUpperLeftQuarter) {
  layer_ui ui;
  ui.answer = red_quarter;
  recording_ui seen;
  seen.set_frame_format(pavo_frame_rgb32);
  seen.keep_pixels(true);
  media_port mcu, relay;
  auto grabbed = std::make_shared<scripted_grabber::state>();  // Y = U = V = 100
  pavo::screen_capture sender(&ui,
                              [grabbed](int, int, int) { return new scripted_grabber(grabbed); });
  pavo::video_rtp_recv receiver("127.0.0.1", relay.port(), 1, &seen, own_id, media_kind_screen);
  ASSERT_TRUE(relay.next());  // the registration: the relay knows where to send
  ASSERT_EQ(sender.start("127.0.0.1", mcu.port(), own_id, 1500, 301), 0);
  ASSERT_TRUE(testsupport::eventually([&] {
    while (auto packet = mcu.next(milliseconds(20)))
      relay.reply(*packet);
    return seen.frames() >= 3;
  }));
  sender.stop();
  const auto f = seen.take_frames()[2];
  ASSERT_EQ(f.width, 1280);
  auto rgb = [](const uint8_t* p) {
    uint32_t w = 0;
    std::memcpy(&w, p, 4);
    return std::array<int, 3>{int(w >> 16 & 0xff), int(w >> 8 & 0xff), int(w & 0xff)};
  };
  auto at = [&](int x, int y) { return rgb(f.pixels.data() + 4 * (y * 1280 + x)); };
  bytes words(4 * 4 * 4);  // what the grabbed picture looks like
  ASSERT_EQ(yuv4202rgb32(flat(4, 4, 100, 100, 100).data(), words.data(), 4, 4), 0);
  const auto plain = rgb(words.data());
  // Points away from the quarter's edge, which the codec blurs.
  for (auto [x, y] : {std::pair{40, 40}, {600, 320}, {320, 180}})
    EXPECT_TRUE(at(x, y)[0] > 200 && at(x, y)[1] < 50 && at(x, y)[2] < 50) << x << "," << y;
  for (auto [x, y] : {std::pair{680, 40}, {320, 400}, {960, 540}, {1270, 710}})
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(at(x, y)[c], plain[c], 12) << x << "," << y;
}

TEST(OverlayCamera, TheCameraSenderNeverAsks) {
  layer_ui ui;
  ui.answer = red_quarter;
  media_port mcu;
  auto camera = std::make_shared<scripted_camera::state>();
  pavo::velvideo_capture sender(&ui, 0, [camera] { return new scripted_camera(camera); });
  sender.set_capture_param(160, 120, 15, 300);
  ASSERT_EQ(sender.start("127.0.0.1", mcu.port(), own_id, 500, 100), 0);
  ASSERT_TRUE(push_picture(*camera, 60));
  ASSERT_TRUE(mcu.next());  // past the point where the screen sender asks
  sender.stop();
  EXPECT_EQ(ui.count_events(pavo_event_mark_bitmap), 0u);
}

}  // namespace

#include "VideoRenderWidget.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <vector>

namespace {

// Left half bytes {255,0,0}, right half {0,0,255}: the library's bytes are
// read as RGB888, so the left must come out red and the right blue.
std::vector<uint8_t> halfRedHalfBlue(int w, int h) {
  std::vector<uint8_t> bytes(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* px = &bytes[(static_cast<size_t>(y) * w + x) * 3];
      const bool left = x < w / 2;
      px[0] = left ? 255 : 0;
      px[1] = 0;
      px[2] = left ? 0 : 255;
    }
  }
  return bytes;
}

// The same picture in the 32-bit layout the library can deliver (0xffRRGGBB per pixel).
std::vector<uint8_t> halfRedHalfBlue32(int w, int h) {
  std::vector<uint8_t> bytes(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t pixel = x < w / 2 ? 0xffff0000u : 0xff0000ffu;
      std::memcpy(&bytes[(static_cast<size_t>(y) * w + x) * 4], &pixel, 4);
    }
  }
  return bytes;
}

TEST(VideoRenderWidgetTest, BothLayoutsAreReadRightAndCopied) {
  for (int bpp : {3, 4}) {
    SCOPED_TRACE(bpp);
    VideoRenderWidget w;
    w.resize(160, 120);
    std::vector<uint8_t> bytes = bpp == 3 ? halfRedHalfBlue(16, 12) : halfRedHalfBlue32(16, 12);
    ASSERT_TRUE(w.showFrame(bytes.data(), 16, 12, bpp));
    // The library gets its buffer back right after; the picture must not change.
    std::fill(bytes.begin(), bytes.end(), 0);
    const QImage held = w.heldFrame();
    ASSERT_EQ(held.size(), QSize(16, 12));
    EXPECT_EQ(held.pixelColor(1, 6), QColor(255, 0, 0));
    EXPECT_EQ(held.pixelColor(14, 6), QColor(0, 0, 255));
  }
}

// A 4:3 picture in a wide widget keeps its shape: centred, bars left and right.
TEST(VideoRenderWidgetTest, KeepsTheAspectRatioAndLetterboxes) {
  VideoRenderWidget w;
  w.resize(400, 150);
  std::vector<uint8_t> bytes = halfRedHalfBlue(640, 480);
  ASSERT_TRUE(w.showFrame(bytes.data(), 640, 480));
  EXPECT_EQ(w.frameRect(), QRect(100, 0, 200, 150));
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const QImage shown = w.grab().toImage();
  EXPECT_EQ(shown.pixelColor(110, 75), QColor(255, 0, 0));
  EXPECT_EQ(shown.pixelColor(290, 75), QColor(0, 0, 255));
  EXPECT_EQ(shown.pixelColor(50, 75), QColor(0x1f, 0x22, 0x29));  // the bar
  // Taller than wide: bars above and below, and the rectangle follows a resize.
  w.resize(300, 600);
  EXPECT_EQ(w.frameRect(), QRect(0, 187, 300, 225));
  w.clear();
  EXPECT_TRUE(w.heldFrame().isNull());
  EXPECT_TRUE(w.frameRect().isEmpty());
}

TEST(VideoRenderWidgetTest, RefusesBadFramesAndKeepsThePicture) {
  VideoRenderWidget w;
  w.resize(32, 32);
  std::vector<uint8_t> good = halfRedHalfBlue(4, 4);
  ASSERT_TRUE(w.showFrame(good.data(), 4, 4));
  const QImage before = w.heldFrame();

  // A tiny buffer with huge sizes: refused before anything is read.
  uint8_t tiny[3] = {1, 2, 3};
  EXPECT_FALSE(w.showFrame(nullptr, 4, 4));
  EXPECT_FALSE(w.showFrame(tiny, 0, 1));
  EXPECT_FALSE(w.showFrame(tiny, 1, -1));
  EXPECT_FALSE(w.showFrame(tiny, VideoRenderWidget::kMaxFrameSide + 1, 1));
  EXPECT_FALSE(w.showFrame(tiny, 1, VideoRenderWidget::kMaxFrameSide + 1));
  EXPECT_FALSE(w.showFrame(tiny, -2147483647 - 1, 1));
  EXPECT_FALSE(w.showFrame(tiny, 1, 1, 2));
  EXPECT_EQ(w.heldFrame(), before);
}

TEST(VideoRenderWidgetTest, OnlyLeftDoubleClickEmits) {
  VideoRenderWidget w;
  w.resize(50, 50);
  QSignalSpy spy(&w, &VideoRenderWidget::signal_DoubleClick);
  QTest::mouseDClick(&w, Qt::RightButton);
  EXPECT_EQ(spy.count(), 0);
  QTest::mouseDClick(&w, Qt::LeftButton);
  EXPECT_EQ(spy.count(), 1);
}

}  // namespace

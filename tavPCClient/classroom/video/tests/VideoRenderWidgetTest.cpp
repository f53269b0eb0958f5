#include "VideoRenderWidget.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
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

TEST(VideoRenderWidgetTest, FrameIsReadAsRgb888AndStretchedToTheWidget) {
  VideoRenderWidget w;
  w.resize(160, 90);
  std::vector<uint8_t> bytes = halfRedHalfBlue(16, 12);
  ASSERT_TRUE(w.showFrame(bytes.data(), 16, 12));

  // The library gets its buffer back right after; the picture must not change.
  std::fill(bytes.begin(), bytes.end(), 0);

  const QImage img = w.heldPixmap().toImage();
  ASSERT_EQ(img.size(), QSize(160, 90));
  EXPECT_EQ(img.pixelColor(10, 45), QColor(255, 0, 0));
  EXPECT_EQ(img.pixelColor(150, 45), QColor(0, 0, 255));
}

TEST(VideoRenderWidgetTest, RefusesBadFramesAndKeepsThePicture) {
  VideoRenderWidget w;
  w.resize(32, 32);
  std::vector<uint8_t> good = halfRedHalfBlue(4, 4);
  ASSERT_TRUE(w.showFrame(good.data(), 4, 4));
  const QImage before = w.heldPixmap().toImage();

  // A tiny buffer with huge sizes: refused before anything is read.
  uint8_t tiny[3] = {1, 2, 3};
  EXPECT_FALSE(w.showFrame(nullptr, 4, 4));
  EXPECT_FALSE(w.showFrame(tiny, 0, 1));
  EXPECT_FALSE(w.showFrame(tiny, 1, -1));
  EXPECT_FALSE(w.showFrame(tiny, VideoRenderWidget::kMaxFrameSide + 1, 1));
  EXPECT_FALSE(w.showFrame(tiny, 1, VideoRenderWidget::kMaxFrameSide + 1));
  EXPECT_FALSE(w.showFrame(tiny, -2147483647 - 1, 1));
  EXPECT_EQ(w.heldPixmap().toImage(), before);
}

TEST(VideoRenderWidgetTest, ResizeRescalesAndClearEmpties) {
  VideoRenderWidget w;
  w.resize(40, 30);
  std::vector<uint8_t> bytes = halfRedHalfBlue(8, 6);
  ASSERT_TRUE(w.showFrame(bytes.data(), 8, 6));
  w.resize(200, 100);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_EQ(w.heldPixmap().size(), QSize(200, 100));
  EXPECT_EQ(w.heldPixmap().toImage().pixelColor(5, 50), QColor(255, 0, 0));
  // The painted widget shows the picture from its top-left corner.
  EXPECT_EQ(w.grab().toImage().pixelColor(2, 2), QColor(255, 0, 0));

  w.clear();
  EXPECT_TRUE(w.heldPixmap().isNull());
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

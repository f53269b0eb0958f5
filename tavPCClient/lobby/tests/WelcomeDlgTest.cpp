// The welcome pages turn both ways around the ring, by hand and by time.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "TestSupport.h"
#include "WelcomeDlg.h"

TEST(WelcomeDlg, ButtonsCycleAndTimerAdvances) {
  WelcomeDlg dlg;
  dlg.show();
  EXPECT_EQ(dlg.currentPage(), 0);
  auto* previous = dlg.findChild<QPushButton*>("bannerPrevious");
  auto* next = dlg.findChild<QPushButton*>("bannerNext");
  ASSERT_TRUE(previous && next);

  QTest::mouseClick(previous, Qt::LeftButton);
  EXPECT_EQ(dlg.currentPage(), 3);  // wraps backwards
  QTest::mouseClick(next, Qt::LeftButton);
  EXPECT_EQ(dlg.currentPage(), 0);  // and forwards
  for (int i = 0; i < WelcomeDlg::kPageCount - 1; ++i)
    QTest::mouseClick(next, Qt::LeftButton);
  EXPECT_EQ(dlg.currentPage(), 3);

  // Left alone, the pages turn by themselves.
  EXPECT_TRUE(testsupport::waitUntil([&] { return dlg.currentPage() == 0; }, 20000));

  // One dot per page, and every page has a picture.
  EXPECT_EQ(dlg.findChildren<QLabel*>("bannerDot").size(), WelcomeDlg::kPageCount);
}

TEST(WelcomeDlg, CloseButtonEndsIt) {
  WelcomeDlg dlg;
  dlg.show();
  auto* close = dlg.findChild<QPushButton*>("titleClose");
  ASSERT_NE(close, nullptr);
  QTest::mouseClick(close, Qt::LeftButton);
  EXPECT_FALSE(dlg.isVisible());
}

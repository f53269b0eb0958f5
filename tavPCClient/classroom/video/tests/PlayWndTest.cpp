#include "AudioActivityIndicator.h"
#include "PlayWnd.h"
#include "VideoRenderWidget.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

#include <QLabel>
#include <QTextDocument>

#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

void sendEnter(QWidget* w) {
  QEvent e(QEvent::Enter);
  QApplication::sendEvent(w, &e);
}

void sendLeave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QApplication::sendEvent(w, &e);
}

TEST(PlayWndTest, HoverBarOnlyWhenAllowed) {
  PlayWnd wnd;
  wnd.setUser(42, QStringLiteral("小明"), 2);
  wnd.show();

  sendEnter(&wnd);
  EXPECT_FALSE(wnd.isHoverBarShown());
  EXPECT_EQ(wnd.titleBarColor(), QColor(96, 96, 96, 0));
  sendLeave(&wnd);

  wnd.setHoverAllowed(true);
  sendEnter(&wnd);
  EXPECT_TRUE(wnd.isHoverBarShown());
  EXPECT_EQ(wnd.titleBarColor(), QColor(96, 96, 96, 200));
  sendLeave(&wnd);
  EXPECT_FALSE(wnd.isHoverBarShown());
  EXPECT_EQ(wnd.titleBarColor(), QColor(96, 96, 96, 0));

  // Losing the right while hovered takes the bar away at once.
  sendEnter(&wnd);
  wnd.setHoverAllowed(false);
  EXPECT_FALSE(wnd.isHoverBarShown());
}

TEST(PlayWndTest, ButtonsSendTheirOperationWithTheUserIdAndStay36) {
  PlayWnd wnd;
  wnd.setUser(4000000001u, QStringLiteral("老师甲"), 1);
  wnd.setHoverAllowed(true);
  wnd.show();
  sendEnter(&wnd);
  QSignalSpy spy(&wnd, &PlayWnd::signalPlayWndOpr);
  const char* names[] = {"btnCloseMedia", "btnAudio", "btnGift"};
  for (const char* name : names) {
    auto* button = wnd.findChild<QPushButton*>(QString::fromLatin1(name));
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }
  ASSERT_EQ(spy.count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(spy.at(i).at(0).value<quint32>(), 4000000001u);
    EXPECT_EQ(spy.at(i).at(1).toInt(), i + 1);
  }

  for (QSize size : {QSize(960, 540), QSize(192, 108)}) {
    wnd.resize(size);
    for (const char* name : names) {
      auto* button = wnd.findChild<QPushButton*>(QString::fromLatin1(name));
      EXPECT_EQ(button->size(), QSize(36, 36)) << name;
      // The bar stays inside the tile.
      const QRect r(button->mapTo(&wnd, QPoint(0, 0)), button->size());
      EXPECT_TRUE(wnd.rect().contains(r)) << name << " at " << size.width();
    }
  }
}

TEST(PlayWndTest, RoleBadgeAndMediaMarks) {
  PlayWnd wnd;
  wnd.setUser(1, QStringLiteral("王老师"), 1);
  EXPECT_EQ(wnd.roleBadgeText(), QStringLiteral("老师"));
  EXPECT_EQ(wnd.roleBadgeColor(), QColor(0, 114, 202));
  wnd.setUser(2, QStringLiteral("家长乙"), 3);
  EXPECT_EQ(wnd.roleBadgeText(), QStringLiteral("家长"));
  EXPECT_EQ(wnd.roleBadgeColor(), QColor(255, 102, 0));
  for (int role : {2, 4, 0, 9}) {
    wnd.setUser(3, QStringLiteral("学生丙"), role);
    EXPECT_TRUE(wnd.roleBadgeText().isEmpty()) << role;
  }

  auto* activity = wnd.findChild<AudioActivityIndicator*>();
  ASSERT_NE(activity, nullptr);
  EXPECT_TRUE(wnd.isPlaceholderShown());
  EXPECT_EQ(wnd.videoIconPath(), QStringLiteral(":/res/room/ViewVideoClose.png"));
  EXPECT_EQ(wnd.audioIconPath(), QStringLiteral(":/res/room/ViewAudioClose.png"));
  EXPECT_FALSE(activity->isActive());

  wnd.setVideoOn(true);
  wnd.setAudioOn(true);
  EXPECT_FALSE(wnd.isPlaceholderShown());
  EXPECT_EQ(wnd.videoIconPath(), QStringLiteral(":/res/room/ViewVideoOpen.png"));
  EXPECT_EQ(wnd.audioIconPath(), QStringLiteral(":/res/room/ViewAudioOpen.png"));
  EXPECT_TRUE(activity->isActive());
  EXPECT_FALSE(QPixmap(wnd.videoIconPath()).isNull());
  EXPECT_FALSE(QPixmap(wnd.audioIconPath()).isNull());

  // Video stopping drops the last picture so a stale frame is never shown.
  uint8_t px[12] = {255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0};
  ASSERT_TRUE(wnd.renderWidget()->showFrame(px, 2, 2));
  wnd.setVideoOn(false);
  EXPECT_TRUE(wnd.renderWidget()->heldFrame().isNull());
  EXPECT_TRUE(wnd.isPlaceholderShown());
}

// Names are typed by other users: markup in one stays text.
TEST(PlayWndTest, NamesAreNeverMarkup) {
  const QString name = QStringLiteral("<b>小明</b><img src=x>");
  PlayWnd tile;
  tile.setUser(7, name, 2);
  EXPECT_TRUE(testsupport::showsAsPlainText(tile, name));
}

}  // namespace

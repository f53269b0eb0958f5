#include "PlayWnd.h"
#include "VideoGroup.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

using Ids = QList<quint32>;

void fill(VideoGroup& g, std::initializer_list<quint32> ids) {
  for (quint32 id : ids)
    g.add(id, QStringLiteral("用户%1").arg(id), 2);
}

TEST(VideoGroupTest, FifthStudentWaitsAndIsPromotedWhenATileFrees) {
  VideoGroup g(4);
  fill(g, {1, 2, 3, 4});
  EXPECT_FALSE(g.scrollButtonsShown());
  VideoGroup::AddResult r = g.add(5, QStringLiteral("用户5"), 2);
  EXPECT_EQ(r.placement, VideoGroup::AddResult::Waiting);
  EXPECT_EQ(r.tile, nullptr);
  EXPECT_EQ(g.tile(5), nullptr);
  EXPECT_EQ(g.displayed(), (Ids{1, 2, 3, 4}));
  EXPECT_EQ(g.waiting(), (Ids{5}));
  EXPECT_TRUE(g.scrollButtonsShown());

  ASSERT_NE(g.tile(2), nullptr);
  EXPECT_EQ(g.tile(2)->userId(), 2u);
  EXPECT_EQ(g.remove(2), 5u);
  EXPECT_EQ(g.displayed(), (Ids{1, 3, 4, 5}));
  EXPECT_TRUE(g.waiting().isEmpty());
  EXPECT_FALSE(g.scrollButtonsShown());
  ASSERT_NE(g.tile(5), nullptr);
  EXPECT_TRUE(g.tile(5)->isVideoOn());
  EXPECT_EQ(g.tile(2), nullptr);

  // Nothing waits now: a freed tile promotes nobody.
  EXPECT_EQ(g.remove(1), 0u);
  EXPECT_EQ(g.displayed(), (Ids{3, 4, 5}));
}

TEST(VideoGroupTest, RejectsAndRemovesWaitingUsers) {
  VideoGroup g(2);
  EXPECT_EQ(g.add(0, QString(), 1).placement, VideoGroup::AddResult::Rejected);
  fill(g, {1, 2, 3, 4});
  EXPECT_EQ(g.add(3, QString(), 1).placement, VideoGroup::AddResult::Rejected);
  EXPECT_EQ(g.add(1, QString(), 1).placement, VideoGroup::AddResult::Rejected);
  EXPECT_EQ(g.waiting(), (Ids{3, 4}));
  EXPECT_EQ(g.remove(3), 0u);
  EXPECT_EQ(g.remove(99), 0u);
  EXPECT_EQ(g.displayed(), (Ids{1, 2}));
  EXPECT_EQ(g.waiting(), (Ids{4}));
  EXPECT_TRUE(g.scrollButtonsShown());
  EXPECT_EQ(g.remove(4), 0u);
  EXPECT_FALSE(g.scrollButtonsShown());
}

TEST(VideoGroupTest, MoveLastDisplayedAndPinnedOwnVideo) {
  VideoGroup g(4);
  EXPECT_EQ(g.moveLastDisplayedToWaitingFront(), 0u);
  fill(g, {1, 2, 3, 4, 5});
  EXPECT_EQ(g.moveLastDisplayedToWaitingFront(), 4u);
  EXPECT_EQ(g.displayed(), (Ids{1, 2, 3}));
  EXPECT_EQ(g.waiting(), (Ids{4, 5}));
  EXPECT_EQ(g.tile(4), nullptr);

  fill(g, {6});
  EXPECT_EQ(g.displayed(), (Ids{1, 2, 3, 6}));

  // The own video takes the first tile; the most recently shown user waits first.
  VideoGroup::AddResult own = g.add(100, QStringLiteral("我"), 2, true);
  EXPECT_EQ(own.placement, VideoGroup::AddResult::Displayed);
  ASSERT_NE(own.tile, nullptr);
  EXPECT_EQ(own.tile, g.tile(100));
  EXPECT_EQ(own.bumpedId, 6u);
  EXPECT_EQ(g.displayed(), (Ids{100, 1, 2, 3}));
  EXPECT_EQ(g.waiting(), (Ids{6, 4, 5}));
}

TEST(VideoGroupTest, ScrollButtonsRotateAndReportWhoToSwitch) {
  VideoGroup g(2);
  g.resize(900, 200);
  g.show();
  fill(g, {1, 2, 3, 4});
  g.tile(1)->setAudioOn(true);
  QSignalSpy spy(&g, &VideoGroup::signalScrolled);

  QTest::mouseClick(g.findChild<QPushButton*>(QStringLiteral("btnVideoNext")), Qt::LeftButton);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).value<Ids>(), (Ids{1}));
  EXPECT_EQ(spy.at(0).at(1).value<Ids>(), (Ids{3}));
  EXPECT_EQ(g.displayed(), (Ids{2, 3}));
  EXPECT_EQ(g.waiting(), (Ids{4, 1}));
  EXPECT_EQ(g.tile(1), nullptr);

  QTest::mouseClick(g.findChild<QPushButton*>(QStringLiteral("btnVideoPrevious")), Qt::LeftButton);
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy.at(1).at(0).value<Ids>(), (Ids{3}));
  EXPECT_EQ(spy.at(1).at(1).value<Ids>(), (Ids{1}));
  EXPECT_EQ(g.displayed(), (Ids{1, 2}));
  EXPECT_EQ(g.waiting(), (Ids{3, 4}));
  // The audio mark survives the round trip through the waiting list.
  ASSERT_NE(g.tile(1), nullptr);
  EXPECT_TRUE(g.tile(1)->isAudioOn());

  // With nobody waiting, scrolling does nothing.
  g.remove(3);
  g.remove(4);
  g.scrollNext();
  EXPECT_EQ(spy.count(), 2);
}

// The close-media button of a tile makes the classroom drop that tile while
// the button's click is still being delivered.
TEST(VideoGroupTest, TileOperationForwardedAndTileMayBeRemovedFromIt) {
  VideoGroup g(2);
  g.setHoverAllowed(true);
  fill(g, {7, 8, 9});
  g.show();
  QSignalSpy spy(&g, &VideoGroup::signalPlayWndOpr);
  quint32 promoted = 0;
  QObject::connect(&g, &VideoGroup::signalPlayWndOpr, &g, [&](quint32 id, int opr) {
    if (opr == PlayWnd::OprCloseMedia)
      promoted = g.remove(id);
  });
  QPointer<PlayWnd> tile = g.tile(7);
  ASSERT_TRUE(tile);
  EXPECT_TRUE(tile->isHoverAllowed());
  QTest::mouseClick(tile->findChild<QPushButton*>(QStringLiteral("btnGift")), Qt::LeftButton);
  QTest::mouseClick(tile->findChild<QPushButton*>(QStringLiteral("btnCloseMedia")), Qt::LeftButton);
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy.at(0).at(0).value<quint32>(), 7u);
  EXPECT_EQ(spy.at(0).at(1).toInt(), 3);
  EXPECT_EQ(spy.at(1).at(1).toInt(), 1);
  EXPECT_EQ(promoted, 9u);
  EXPECT_EQ(g.displayed(), (Ids{8, 9}));
  EXPECT_TRUE(g.tile(9)->isHoverAllowed());
  EXPECT_TRUE(testsupport::waitUntil([&] { return tile.isNull(); }, 5000));
}

}  // namespace

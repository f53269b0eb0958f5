// The strip follows its lineup: a 4:3 tile per shown user, scroll buttons while
// users wait.
#include "VideoGroup.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "PlayWnd.h"
#include "TestSupport.h"
#include "VideoLineup.h"

namespace {

using Ids = QList<quint32>;

Ids tileIds(const VideoGroup& g) {
  Ids ids;
  for (PlayWnd* t : g.tiles())
    ids.append(t->userId());
  return ids;
}

TEST(VideoGroupTest, TilesFollowTheLineupInOrderWithTheirShape) {
  VideoLineup lineup(4);
  lineup.add(1);  // before the strip exists
  VideoGroup g(lineup);
  g.resize(1000, 150);
  g.show();
  QSignalSpy filled(&g, &VideoGroup::tileShown);
  for (quint32 id : {2u, 3u, 4u, 5u})
    lineup.add(id);
  EXPECT_EQ(tileIds(g), (Ids{1, 2, 3, 4}));
  EXPECT_EQ(filled.count(), 3);
  EXPECT_EQ(g.tile(5), nullptr);
  EXPECT_TRUE(g.scrollButtonsShown());
  // 150 high less the margins: 138 high and 184 wide, the shape of a 4:3 picture.
  EXPECT_EQ(g.tile(1)->size(), QSize(184, 138));

  QPointer<PlayWnd> gone = g.tile(2);
  lineup.remove(2);
  EXPECT_EQ(tileIds(g), (Ids{1, 3, 4, 5}));
  EXPECT_FALSE(g.scrollButtonsShown());
  EXPECT_TRUE(testsupport::waitUntil([&] { return gone.isNull(); }, 5000));

  g.resize(1000, 90);
  EXPECT_EQ(g.tile(1)->size(), QSize(104, 78));
  lineup.clear();
  EXPECT_TRUE(g.tiles().isEmpty());
}

TEST(VideoGroupTest, ScrollButtonsRotateTheLineup) {
  VideoLineup lineup(2);
  VideoGroup g(lineup);
  g.resize(900, 200);
  g.show();
  for (quint32 id : {1u, 2u, 3u, 4u})
    lineup.add(id);
  QSignalSpy spy(&lineup, &VideoLineup::scrolled);
  QTest::mouseClick(g.findChild<QPushButton*>(QStringLiteral("btnVideoNext")), Qt::LeftButton);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(tileIds(g), (Ids{2, 3}));
  QTest::mouseClick(g.findChild<QPushButton*>(QStringLiteral("btnVideoPrevious")), Qt::LeftButton);
  EXPECT_EQ(tileIds(g), (Ids{1, 2}));
}

// The close-media button of a tile makes the classroom drop that tile while
// the button's click is still being delivered.
TEST(VideoGroupTest, TileOperationForwardedAndTileMayBeRemovedFromIt) {
  VideoLineup lineup(2);
  VideoGroup g(lineup);
  g.setHoverAllowed(true);
  for (quint32 id : {7u, 8u, 9u})
    lineup.add(id);
  g.show();
  QSignalSpy spy(&g, &VideoGroup::signalPlayWndOpr);
  quint32 promoted = 0;
  QObject::connect(&g, &VideoGroup::signalPlayWndOpr, &g, [&](quint32 id, int opr) {
    if (opr == PlayWnd::OprCloseMedia)
      promoted = lineup.remove(id);
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
  EXPECT_EQ(tileIds(g), (Ids{8, 9}));
  EXPECT_TRUE(g.tile(9)->isHoverAllowed());
  EXPECT_TRUE(testsupport::waitUntil([&] { return tile.isNull(); }, 5000));
}

}  // namespace

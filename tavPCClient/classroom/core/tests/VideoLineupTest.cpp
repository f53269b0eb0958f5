// Who of a group has a video tile and who waits.
#include "VideoLineup.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace {

using Ids = QList<quint32>;

void fill(VideoLineup& l, std::initializer_list<quint32> ids) {
  for (quint32 id : ids)
    l.add(id);
}

TEST(VideoLineupTest, FifthStudentWaitsAndIsPromotedWhenAPlaceFrees) {
  VideoLineup l(4);
  QSignalSpy waiting(&l, &VideoLineup::waitingChanged);
  fill(l, {1, 2, 3, 4});
  EXPECT_FALSE(l.hasWaiting());
  EXPECT_EQ(l.add(5).placement, VideoLineup::Waiting);
  EXPECT_EQ(l.displayed(), (Ids{1, 2, 3, 4}));
  EXPECT_EQ(l.waiting(), (Ids{5}));
  ASSERT_EQ(waiting.count(), 1);
  EXPECT_TRUE(waiting.at(0).at(0).toBool());

  QSignalSpy shown(&l, &VideoLineup::shown);
  QSignalSpy hidden(&l, &VideoLineup::hidden);
  EXPECT_EQ(l.remove(2), 5u);
  EXPECT_EQ(l.displayed(), (Ids{1, 3, 4, 5}));
  EXPECT_FALSE(l.hasWaiting());
  ASSERT_EQ(hidden.count(), 1);
  EXPECT_EQ(hidden.at(0).at(0).value<quint32>(), 2u);
  ASSERT_EQ(shown.count(), 1);
  EXPECT_EQ(shown.at(0).at(0).value<quint32>(), 5u);
  EXPECT_EQ(shown.at(0).at(1).toInt(), 3);
  EXPECT_EQ(waiting.count(), 2);

  // Nothing waits now: a freed place promotes nobody.
  EXPECT_EQ(l.remove(1), 0u);
  EXPECT_EQ(l.displayed(), (Ids{3, 4, 5}));
}

TEST(VideoLineupTest, RejectsZeroAndDuplicatesAndRemovesWaitingUsers) {
  VideoLineup l(2);
  EXPECT_EQ(l.add(0).placement, VideoLineup::Rejected);
  fill(l, {1, 2, 3, 4});
  EXPECT_EQ(l.add(3).placement, VideoLineup::Rejected);
  EXPECT_EQ(l.add(1).placement, VideoLineup::Rejected);
  EXPECT_EQ(l.waiting(), (Ids{3, 4}));
  EXPECT_EQ(l.remove(3), 0u);
  EXPECT_EQ(l.remove(99), 0u);
  EXPECT_EQ(l.displayed(), (Ids{1, 2}));
  EXPECT_EQ(l.waiting(), (Ids{4}));
  EXPECT_EQ(l.remove(4), 0u);
  EXPECT_FALSE(l.hasWaiting());
}

TEST(VideoLineupTest, OwnVideoTakesTheFirstPlaceAndTheLastShownWaitsFirst) {
  VideoLineup l(4);
  EXPECT_EQ(l.moveLastDisplayedToWaitingFront(), 0u);
  fill(l, {1, 2, 3, 4, 5});
  EXPECT_EQ(l.moveLastDisplayedToWaitingFront(), 4u);
  EXPECT_EQ(l.displayed(), (Ids{1, 2, 3}));
  EXPECT_EQ(l.waiting(), (Ids{4, 5}));
  fill(l, {6});
  EXPECT_EQ(l.displayed(), (Ids{1, 2, 3, 6}));

  const VideoLineup::AddResult own = l.add(100, true);
  EXPECT_EQ(own.placement, VideoLineup::Displayed);
  EXPECT_EQ(own.bumpedId, 6u);
  EXPECT_EQ(l.displayed(), (Ids{100, 1, 2, 3}));
  EXPECT_EQ(l.waiting(), (Ids{6, 4, 5}));
}

TEST(VideoLineupTest, ScrollingRotatesAndReportsWhoToSwitch) {
  VideoLineup l(2);
  fill(l, {1, 2, 3, 4});
  QSignalSpy spy(&l, &VideoLineup::scrolled);
  l.scrollNext();
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).value<Ids>(), (Ids{1}));
  EXPECT_EQ(spy.at(0).at(1).value<Ids>(), (Ids{3}));
  EXPECT_EQ(l.displayed(), (Ids{2, 3}));
  EXPECT_EQ(l.waiting(), (Ids{4, 1}));

  l.scrollPrevious();
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy.at(1).at(0).value<Ids>(), (Ids{3}));
  EXPECT_EQ(spy.at(1).at(1).value<Ids>(), (Ids{1}));
  EXPECT_EQ(l.displayed(), (Ids{1, 2}));
  EXPECT_EQ(l.waiting(), (Ids{3, 4}));

  // With nobody waiting, scrolling does nothing.
  l.remove(3);
  l.remove(4);
  l.scrollNext();
  l.scrollPrevious();
  EXPECT_EQ(spy.count(), 2);
  EXPECT_EQ(l.displayed(), (Ids{1, 2}));
}

}  // namespace

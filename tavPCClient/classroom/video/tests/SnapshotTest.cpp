// Renders the widgets to PNG files for a look by eye; runs only when
// TAV_VIDEO_SNAPSHOT_DIR names a folder.
#include "MemberListWidget.h"
#include "PlayWnd.h"
#include "UserItem.h"
#include "VideoGroup.h"
#include "VideoRenderWidget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <vector>

namespace {

std::vector<uint8_t> gradient(int w, int h) {
  std::vector<uint8_t> bytes(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* px = &bytes[(static_cast<size_t>(y) * w + x) * 3];
      px[0] = static_cast<uint8_t>(40 + x * 120 / w);
      px[1] = static_cast<uint8_t>(90 + y * 100 / h);
      px[2] = static_cast<uint8_t>(160 - x * 60 / w);
    }
  }
  return bytes;
}

TEST(SnapshotTest, RenderWidgets) {
  const QString dir = qEnvironmentVariable("TAV_VIDEO_SNAPSHOT_DIR");
  if (dir.isEmpty())
    GTEST_SKIP() << "TAV_VIDEO_SNAPSHOT_DIR not set";
  QDir().mkpath(dir);

  VideoGroup group(4);
  group.resize(1100, 200);
  group.setHoverAllowed(true);
  group.add(1, QStringLiteral("王老师"), 1);
  group.add(2, QStringLiteral("李家长"), 3);
  group.add(3, QStringLiteral("张小明"), 2);
  group.add(4, QStringLiteral("赵小红"), 2);
  group.add(5, QStringLiteral("孙小刚"), 2);
  group.show();
  QApplication::processEvents();
  const std::vector<uint8_t> frame = gradient(320, 180);
  group.tile(1)->setAudioOn(true);
  group.tile(1)->renderWidget()->showFrame(frame.data(), 320, 180);
  group.tile(2)->renderWidget()->showFrame(frame.data(), 320, 180);
  group.tile(4)->setVideoOn(false);
  QEvent enter(QEvent::Enter);
  QApplication::sendEvent(group.tile(2), &enter);
  QApplication::processEvents();
  EXPECT_TRUE(group.grab().save(dir + "/video_group.png"));

  MemberListWidget list;
  list.resize(300, 420);
  list.addUser(1, QStringLiteral("王老师"), 1, MemberListWidget::Teacher)->setVideoOn(true);
  UserItem* a = list.addUser(6, QStringLiteral("周助教"), 2, MemberListWidget::Assistant);
  a->setAssistant(true);
  UserItem* s = list.addUser(3, QStringLiteral("张小明"), 2, MemberListWidget::Student);
  s->setHandUp(true);
  s->setAudioOn(true);
  s->setLevel(QStringLiteral("Lv5"));
  list.addUser(4, QStringLiteral("赵小红"), 2, MemberListWidget::Student)->setDeviceMask(0);
  UserItem* m = list.addUser(5, QStringLiteral("孙小刚"), 2, MemberListWidget::Student);
  m->setMuted(true);
  m->setChecked(true);
  list.addUser(2, QStringLiteral("李家长"), 3, MemberListWidget::Parent);
  list.show();
  QApplication::processEvents();
  EXPECT_TRUE(list.grab().save(dir + "/member_list.png"));
}

}  // namespace

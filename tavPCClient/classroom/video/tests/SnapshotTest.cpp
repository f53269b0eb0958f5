// Renders the widgets to PNG files for a look by eye; runs only when
// TAV_VIDEO_SNAPSHOT_DIR names a folder.
#include "PlayWnd.h"
#include "VideoGroup.h"
#include "VideoLineup.h"
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

  VideoLineup lineup(4);
  VideoGroup group(lineup);
  group.resize(1100, 200);
  group.setHoverAllowed(true);
  const QStringList names{QStringLiteral("王老师"), QStringLiteral("李家长"),
                          QStringLiteral("张小明"), QStringLiteral("赵小红"),
                          QStringLiteral("孙小刚")};
  const int roles[] = {1, 3, 2, 2, 2};
  for (quint32 id = 1; id <= 5; ++id) {
    lineup.add(id);
    if (PlayWnd* tile = group.tile(id))
      tile->setUser(id, names.at(int(id) - 1), roles[id - 1]);
  }
  group.show();
  QApplication::processEvents();
  const std::vector<uint8_t> frame = gradient(320, 240);
  group.tile(1)->setAudioOn(true);
  group.tile(1)->renderWidget()->showFrame(frame.data(), 320, 240);
  group.tile(2)->renderWidget()->showFrame(frame.data(), 320, 240);
  group.tile(4)->setVideoOn(false);
  QEvent enter(QEvent::Enter);
  QApplication::sendEvent(group.tile(2), &enter);
  QApplication::processEvents();
  EXPECT_TRUE(group.grab().save(dir + "/video_group.png"));
}

}  // namespace

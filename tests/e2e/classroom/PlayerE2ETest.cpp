// Courseware playback through the real service: a student's classroom opens a
// free courseware, the playback window downloads it with progress, plays it
// with sound (into SDL's disk driver), seeks, ends and replays; a second
// opening plays from the cache, which the service sees as no request at all.
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QUrl>
#include <cmath>
#include <vector>

#include "ClassroomFixture.h"
#include "CoursewareItem.h"
#include "CoursewareList.h"
#include "CoursewarePlayDialog.h"
#include "CoursewarePlayback.h"
#include "CoursewareRenderWidget.h"
#include "PlayerRules.h"
#include "ToneShare.h"

namespace {

using testsupport::toneShare;

// The played sound in tenths of a second: how many held sound, and how many of
// those were the tone. (A seek breaks the tone's phase, so it is judged piecewise.)
struct Heard {
  int sounding = 0;
  int tonal = 0;
};
Heard listen(const QByteArray& pcm, int rate, double hz) {
  Heard heard;
  const auto* frames = reinterpret_cast<const qint16*>(pcm.constData());
  const int block = rate / 10;
  for (int at = 0; at + block <= pcm.size() / 4; at += block) {
    const double share = toneShare(frames + 2 * at, block, rate, hz);
    if (share < 0)
      continue;
    ++heard.sounding;
    if (share > 0.5)
      ++heard.tonal;
  }
  return heard;
}

// A 12-second 320x240 H.264/AAC file with a 440 Hz tone and a key picture
// every second.
bool makeVideo(const QString& path) {
  QProcess ffmpeg;
  ffmpeg.start("ffmpeg",
               {"-nostdin",   "-loglevel", "error",     "-y",
                "-f",         "lavfi",     "-i",        "testsrc2=size=320x240:rate=15",
                "-f",         "lavfi",     "-i",        "sine=frequency=440:sample_rate=48000",
                "-t",         "12",        "-c:v",      "libx264",
                "-preset",    "ultrafast", "-g",        "15",
                "-pix_fmt",   "yuv420p",   "-c:a",      "aac",
                "-ac",        "2",         "-shortest", "-movflags",
                "+faststart", path});
  return ffmpeg.waitForFinished(120000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
         ffmpeg.exitCode() == 0;
}

class PlayerE2E : public ClassroomTest {
protected:
  // The room's first free courseware, its video made where the service keeps it.
  bool prepareFreeCourseware() {
    const QJsonObject answer =
        testsupport::postAndWait(ServiceApi::kFindCoursewareForPlayer,
                                 FormBody(ServiceApi::kFindCoursewareForPlayer.body).arg(kRoom));
    for (const QJsonValue& row : answer.value("rows").toArray()) {
      const QJsonObject record = row.toObject();
      if (record.value("price").toVariant().toInt() != 0)
        continue;
      id_ = record.value("id").toVariant().toInt();
      name_ = record.value("coursewareName").toString();
      urlPath_ = QUrl(player::choosePlayUrl(record.value("filePath").toString())).path();
      break;
    }
    const QString prefix = QStringLiteral("/uds/upload/");
    if (id_ == 0 || !urlPath_.startsWith(prefix))
      return false;
    const QString file = servers_.uploadsDir() + "/" + urlPath_.mid(prefix.size());
    QDir().mkpath(QFileInfo(file).path());
    if (!makeVideo(file))
      return false;
    size_ = QFileInfo(file).size();
    return size_ > 0;
  }

  CoursewarePlayDialog* watch() {
    auto* list = part<CoursewareList>();
    CoursewareItem* item = nullptr;
    waitUntil([&] {
      for (CoursewareItem* i : list->items())
        if (i->id() == id_)
          item = i;
      return item != nullptr;
    });
    if (!item)
      return nullptr;
    list->onWatchCourseware(item);
    auto* playback = part<CoursewarePlayback>();
    waitUntil([&] { return playback->dialog() != nullptr; });
    CoursewarePlayDialog* dialog = playback->dialog();
    if (dialog) {
      // The positions the player reports, as the window shows them (the
      // window hears each first).
      QObject::connect(dialog, &CoursewarePlayDialog::signal_play_progress, dialog,
                       [this](qint64 seconds, qint64) { positions_.push_back(int(seconds)); });
    }
    return dialog;
  }

  bool reached(int from, int atLeast, int atMost = 1 << 30) {
    return waitUntil([&] {
      for (size_t i = from; i < positions_.size(); ++i)
        if (positions_[i] >= atLeast && positions_[i] <= atMost)
          return true;
      return false;
    });
  }

  int id_ = 0;
  QString name_;
  QString urlPath_;
  qint64 size_ = 0;
  std::vector<int> positions_;
};

}  // namespace

TEST_F(PlayerE2E, AFreeCoursewareDownloadsPlaysSeeksEndsReplaysAndThenComesFromTheCache) {
  // The courseware list is the room's: asked for once the member is in.
  ASSERT_TRUE(enter("student1"));
  ASSERT_TRUE(prepareFreeCourseware());
  ASSERT_TRUE(connected());
  const QString sound = home_.home() + "/courseware.raw";
  qputenv("SDL_DISKAUDIOFILE", sound.toLocal8Bit());

  QPointer<CoursewarePlayDialog> dialog = watch();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(waitUntil([&] { return dialog->playing(); })) << dialog->statusText().toStdString();
  // Downloaded once, whole, with its progress shown.
  auto* bar = dialog->findChild<QProgressBar*>("playerDownload");
  EXPECT_EQ(bar->maximum(), size_);
  EXPECT_EQ(bar->value(), size_);
  EXPECT_EQ(servers_.requestCount(urlPath_), 1);
  EXPECT_EQ(QFileInfo(dialog->localPath()).size(), size_);
  EXPECT_EQ(dialog->localPath(),
            home_.clientDataFolder() + QStringLiteral("video/%1/%2.mp4").arg(kRoom).arg(name_));

  // Pictures and progress.
  ASSERT_TRUE(reached(0, 2));
  EXPECT_TRUE(dialog->findChild<CoursewareRenderWidget*>()->hasFrame());
  QSlider* slider = dialog->findChild<QSlider*>("playerSlider");
  EXPECT_EQ(slider->maximum(), 12);

  // Seek to three quarters: 9 s.
  const size_t beforeSeek = positions_.size();
  QTest::mouseClick(slider, Qt::LeftButton, {},
                    QPoint(slider->width() * 3 / 4, slider->height() / 2));
  ASSERT_TRUE(reached(beforeSeek, 8, 10));

  // The end: (12, 12), the replay button.
  auto* replay = dialog->findChild<QPushButton*>("btnReplay");
  ASSERT_TRUE(waitUntil([&] { return !replay->isHidden(); }));
  EXPECT_FALSE(dialog->playing());
  ASSERT_FALSE(positions_.empty());
  EXPECT_EQ(positions_.back(), 12);
  QFile raw(sound);
  ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
  const QByteArray pcm = raw.readAll();
  // About 2 s before the seek and 3 s after it.
  const Heard heard = listen(pcm, 48000, 440.0);
  EXPECT_GE(heard.sounding, 40) << pcm.size() << " bytes";
  EXPECT_GE(heard.tonal, heard.sounding * 9 / 10) << heard.sounding << " sounding";

  // Replay: from the start, from the file already here.
  const size_t beforeReplay = positions_.size();
  QTest::mouseClick(replay, Qt::LeftButton);
  ASSERT_TRUE(dialog->playing());
  ASSERT_TRUE(reached(beforeReplay, 1));
  EXPECT_LE(positions_[beforeReplay], 1);
  EXPECT_FALSE(dialog->downloading());

  // Opened again: the cache, and no request reaches the service.
  dialog->close();
  ASSERT_TRUE(waitUntil([&] { return dialog.isNull(); }));
  positions_.clear();
  dialog = watch();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(waitUntil([&] { return dialog->playing(); }));
  EXPECT_FALSE(dialog->downloading());
  ASSERT_TRUE(reached(0, 1));
  EXPECT_EQ(servers_.requestCount(urlPath_), 1);
}

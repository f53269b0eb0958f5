// The compiled-in resources and the side files next to the client: everything
// the client loads by name must exist, have the size the layouts expect and
// not be blank.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

namespace {

struct Expected {
  const char* path;
  int width;
  int height;
};

const Expected kImages[] = {
    {":/res/tav_add/noVideo.png", 320, 240},
    {":/res/tav_add/logo.png", 64, 64},
    {":/res/tav_add/logo_big.png", 128, 128},
    {":/res/tav_add/close.png", 16, 16},
    {":/res/tav_add/close_hover.png", 16, 16},
    {":/res/tav_add/minimize.png", 16, 16},
    {":/res/tav_add/minimize_hover.png", 16, 16},
    {":/res/tav_add/user.png", 18, 18},
    {":/res/tav_add/lock.png", 18, 18},
    {":/res/tav_add/arrow_left.png", 32, 32},
    {":/res/tav_add/arrow_right.png", 32, 32},
    {":/res/tav_add/dot_on.png", 10, 10},
    {":/res/tav_add/dot_off.png", 10, 10},
    {":/res/tav_add/welcome1.png", 640, 360},
    {":/res/tav_add/welcome2.png", 640, 360},
    {":/res/tav_add/welcome3.png", 640, 360},
    {":/res/tav_add/welcome4.png", 640, 360},
    {":/res/room/无麦.png", 32, 32},
    {":/res/room/无摄像头.png", 32, 32},
    {":/res/room/voicePlay.png", 32, 32},
    {":/res/room/voicePause.png", 32, 32},
    {":/res/room/videoOn.png", 32, 32},
    {":/res/room/videoOff.png", 32, 32},
    {":/res/room/noVoice.png", 32, 32},
    {":/res/room/noPic.png", 32, 32},
    {":/res/room/msgArrived.png", 32, 32},
    {":/res/room/audioOn.png", 32, 32},
    {":/res/room/audioOff.png", 32, 32},
    {":/res/room/attention_checked.png", 32, 32},
    {":/res/room/attention.png", 32, 32},
    {":/res/room/ViewVideoOpen.png", 24, 24},
    {":/res/room/ViewVideoClose.png", 24, 24},
    {":/res/room/ViewAudioOpen.png", 24, 24},
    {":/res/room/ViewAudioClose.png", 24, 24},
    {":/res/drawing/pen.png", 24, 24},
    {":/res/drawing/line.png", 24, 24},
    {":/res/drawing/rect.png", 24, 24},
    {":/res/drawing/ellipse.png", 24, 24},
    {":/res/drawing/text.png", 24, 24},
    {":/res/drawing/eraser.png", 24, 24},
    {":/res/drawing/undo.png", 24, 24},
    {":/res/drawing/redo.png", 24, 24},
    {":/res/drawing/clear.png", 24, 24},
};

// Number of distinct pixel values, stopping once `limit` have been seen.
int distinctPixels(const QImage& image, int limit) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  QVector<QRgb> seen;
  for (int y = 0; y < argb.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    for (int x = 0; x < argb.width(); ++x) {
      if (!seen.contains(line[x])) {
        seen.append(line[x]);
        if (seen.size() >= limit) {
          return limit;
        }
      }
    }
  }
  return seen.size();
}

QString binDir() {
  return qEnvironmentVariable("TAV_BIN_DIR");
}

TEST(Resources, ImagesLoadWithTheirLayoutSize) {
  for (const Expected& e : kImages) {
    SCOPED_TRACE(e.path);
    const QImage image(QString::fromUtf8(e.path));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), e.width);
    EXPECT_EQ(image.height(), e.height);
    // A failed render leaves a single flat colour.
    EXPECT_GE(distinctPixels(image, 3), 3);
  }
}

TEST(Resources, StyleSheetIsPackaged) {
  EXPECT_TRUE(QFile::exists(QStringLiteral(":/res/tav_add/style.qss")));
}

TEST(SideFiles, WhiteboardTemplates) {
  ASSERT_FALSE(binDir().isEmpty());
  const QDir dir(binDir() + QStringLiteral("/wbtemplete"));
  for (const char* name : {"whitepaper.png", "charactergrid.png", "pinyin.png", "stationery.png",
                           "english.png", "footsteps.png"}) {
    SCOPED_TRACE(name);
    const QImage image(dir.filePath(QString::fromLatin1(name)));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(1600, 900));
    const bool blankExpected = QByteArray(name) == "whitepaper.png";
    if (blankExpected) {
      EXPECT_EQ(distinctPixels(image, 2), 1);
      EXPECT_EQ(image.pixel(800, 450), qRgb(255, 255, 255));
    } else {
      EXPECT_GE(distinctPixels(image, 2), 2);
    }
  }
}

TEST(SideFiles, VideoParamConfIsCopiedUnchanged) {
  const QByteArray expected =
      "teacher width : 640\n"
      "teacher height : 480\n"
      "teacher fps : 15\n"
      "teacher start bitrate : 500\n"
      "teacher min bitrate : 150\n"
      "teacher max bitrate : 800\n"
      "student width : 640\n"
      "student height : 480\n"
      "student fps : 15\n"
      "student start bitrate : 400\n"
      "student min bitrate : 100\n"
      "student max bitrate : 600\n"
      "share width : 1280\n"
      "share height : 720\n"
      "share fps : 10\n"
      "share start bitrate : 1000\n"
      "share min bitrate : 300\n"
      "share max bitrate : 2000\n";
  ASSERT_FALSE(binDir().isEmpty());
  QFile file(binDir() + QStringLiteral("/videoparam.conf"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), expected);
}

TEST(SideFiles, TestMusicIsAnMp3OfSomeSeconds) {
  ASSERT_FALSE(binDir().isEmpty());
  QFile file(binDir() + QStringLiteral("/testMusic.mp3"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  // 128 kbit/s for several seconds is well above 64 KiB.
  EXPECT_GT(file.size(), 64 * 1024);
  const QByteArray head = file.read(3);
  ASSERT_EQ(head.size(), 3);
  const bool id3 = head == "ID3";
  const bool frameSync = static_cast<unsigned char>(head[0]) == 0xFF &&
                         (static_cast<unsigned char>(head[1]) & 0xE0) == 0xE0;
  EXPECT_TRUE(id3 || frameSync);
}

}  // namespace

int main(int argc, char* argv[]) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

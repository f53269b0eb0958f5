// The playback window with a stand-in player and a small HTTP server on
// loopback: the list and the entry asked for, the cache, downloads that work
// and that fail, the progress and its end, replay, seeking by clicking, the
// pictures' hand-over, full size, and follow.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "ClassroomRig.h"
#include "CoursewarePlayDialog.h"
#include "CoursewareRenderWidget.h"
#include "CoursewareWidget.h"
#include "DataFolder.h"
#include "LocalConfig.h"
#include "Prompt.h"
#include "ServiceApi.h"
#include "TestSupport.h"

using testsupport::waitUntil;

namespace {

constexpr quint32 kStudent = 10003;
constexpr quint32 kTeacher = 10001;

// What the stand-in players were asked, across all of them.
struct PlayerLog {
  std::vector<QByteArray> paths;
  std::vector<bool> pauses;
  std::vector<int> seeks;
  int started = 0;
  int destroyed = 0;
  int startResult = 0;
};

class FakePlayer : public vidora {
public:
  explicit FakePlayer(PlayerLog& log) : log_(log) {}
  ~FakePlayer() override { ++log_.destroyed; }
  int start() override {
    ++log_.started;
    return log_.startResult;
  }
  int set_pause(bool paused) override {
    log_.pauses.push_back(paused);
    return 0;
  }
  int seek(int percent) override {
    log_.seeks.push_back(percent);
    return 0;
  }
  int stop() override { return 0; }

private:
  PlayerLog& log_;
};

// Answers every GET with one canned response: status, a Content-Length, and
// the body (which may be shorter than announced, the connection then closes).
class TinyHttp : public QObject {
public:
  TinyHttp() {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        ++connections;
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
          request += socket->readAll();
          if (!request.contains("\r\n\r\n"))
            return;
          socket->write(QByteArray("HTTP/1.1 ") + QByteArray::number(status) + " X\r\n" +
                        "Content-Length: " + QByteArray::number(announced) + "\r\n" +
                        "Connection: close\r\n\r\n" + body);
          socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }
  QString url(const QString& name) const {
    return QStringLiteral("http://127.0.0.1:%1/uds/upload/%2").arg(server_.serverPort()).arg(name);
  }
  void serve(int code, const QByteArray& content, qint64 length = -1) {
    status = code;
    body = content;
    announced = length >= 0 ? length : content.size();
  }

  int connections = 0;
  QByteArray request;
  int status = 200;
  QByteArray body;
  qint64 announced = 0;

private:
  QTcpServer server_;
};

QJsonObject record(int id, const QString& name, const QString& url) {
  const QJsonObject info{
      {"PlayInfoList",
       QJsonObject{{"PlayInfo", QJsonArray{QJsonObject{
                                    {"Format", "mp4"}, {"Definition", "LD"}, {"PlayURL", url}}}}}}};
  return QJsonObject{{"id", id},
                     {"coursewareName", name},
                     {"nickName", "王老师"},
                     {"filePath", QString::fromUtf8(QJsonDocument(info).toJson())}};
}

QString takeToast() {
  const QString text = Prompt::instance()->text();
  Prompt::instance()->setText(QString());
  return text;
}

class PlayDialogTest : public ::testing::Test {
protected:
  PlayDialogTest() : rig(kStudent, kTeacher) {
    DataFolder::setPath(home.clientDataFolder());
    // The dialog's own requests go nowhere: the test hands it the answers.
    LocalConfig::instance()->setServerIP(QStringLiteral("127.0.0.1:9"));
  }

  // A dialog asking for courseware `wanted`, with stand-in players.
  std::unique_ptr<CoursewarePlayDialog> open(int wanted) {
    auto dialog = std::make_unique<CoursewarePlayDialog>(rig.context, wanted, "http://share/link");
    dialog->setCacheFolder(cache.path());
    dialog->setPlayerFactory([this](const QByteArray& path, video_play* observer, int) -> vidora* {
      log.paths.push_back(path);
      observer_ = observer;
      return new FakePlayer(log);
    });
    dialog->resize(1100, 660);
    dialog->show();
    return dialog;
  }
  QString cached(const QString& name) const { return cache.path() + "/" + name + ".mp4"; }
  static QString text(const QWidget& dialog, const char* name) {
    return dialog.findChild<QLabel*>(QLatin1String(name))->text();
  }
  static bool shown(const QWidget& dialog, const char* name) {
    return !dialog.findChild<QWidget*>(QLatin1String(name))->isHidden();
  }

  testsupport::TempHome home;
  QTemporaryDir cache;
  ClassroomRig rig;
  PlayerLog log;
  video_play* observer_ = nullptr;
  TinyHttp http;
};

}  // namespace

TEST_F(PlayDialogTest, TheListPlaysTheOneAskedForAndACachedFileNeedsNoRequest) {
  {
    QFile file(cached("第二课"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("cached video");
  }
  auto dialog = open(12);
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("播放器"));
  dialog->onGetCoursewares(QJsonObject{
      {"code", 0},
      {"rows",
       QJsonArray{record(11, "第一课", http.url("1.mp4")), record(12, "第二课", http.url("2.mp4")),
                  record(13, "第三课", http.url("3.mp4"))}}});
  ASSERT_EQ(dialog->entries().size(), 3);
  ASSERT_EQ(dialog->current(), dialog->entries()[1]);
  EXPECT_TRUE(dialog->entries()[1]->isChecked());
  EXPECT_FALSE(dialog->entries()[0]->isChecked());
  EXPECT_EQ(text(*dialog, "playerTitle"), QStringLiteral("课件：第二课"));
  EXPECT_EQ(text(*dialog, "playerUploader"), QStringLiteral("上传者：王老师"));
  // Played from the cache at once: no download, nothing asked of the server.
  EXPECT_FALSE(dialog->downloading());
  ASSERT_EQ(log.paths.size(), 1u);
  EXPECT_EQ(QFile::decodeName(log.paths[0]), cached("第二课"));
  EXPECT_EQ(log.started, 1);
  EXPECT_TRUE(dialog->playing());
  EXPECT_TRUE(dialog->findChild<QSlider*>("playerSlider")->isEnabled());
  EXPECT_TRUE(dialog->findChild<QPushButton*>("btnPlayPause")->isChecked());
  QTest::qWait(0);
  EXPECT_EQ(http.connections, 0);

  // Choosing another entry ends this player and downloads that one.
  http.serve(200, QByteArray(5000, 'v'));
  dialog->slot_WatchCourseware(dialog->entries()[0]);
  EXPECT_EQ(log.destroyed, 1);
  EXPECT_TRUE(dialog->entries()[0]->isChecked());
  EXPECT_FALSE(dialog->entries()[1]->isChecked());
  EXPECT_TRUE(dialog->downloading());
  EXPECT_FALSE(dialog->findChild<QSlider*>("playerSlider")->isEnabled());
  ASSERT_TRUE(waitUntil([&] { return dialog->playing(); }));
  EXPECT_EQ(http.request.left(24), QByteArray("GET /uds/upload/1.mp4 HT"));
  QFile downloaded(cached("第一课"));
  ASSERT_TRUE(downloaded.open(QIODevice::ReadOnly));
  EXPECT_EQ(downloaded.readAll(), QByteArray(5000, 'v'));
  EXPECT_FALSE(QFile::exists(cached("第一课") + ".part"));
  EXPECT_EQ(dialog->findChild<QProgressBar*>("playerDownload")->value(), 5000);
  EXPECT_EQ(QFile::decodeName(log.paths.back()), cached("第一课"));
}

TEST_F(PlayDialogTest, AFailedDownloadLeavesNothingBehind) {
  auto dialog = open(21);
  // Cut off after 100 of 1000 bytes.
  http.serve(200, QByteArray(100, 'x'), 1000);
  dialog->onGetCoursewares(
      QJsonObject{{"code", 0},
                  {"rows", QJsonArray{record(21, "断线", http.url("cut.mp4")),
                                      record(22, "不存在", http.url("missing.mp4"))}}});
  ASSERT_TRUE(waitUntil([&] { return !dialog->downloading(); }));
  EXPECT_EQ(dialog->statusText(), QStringLiteral("课件下载失败！"));
  EXPECT_FALSE(QFile::exists(cached("断线")));
  EXPECT_FALSE(QFile::exists(cached("断线") + ".part"));
  EXPECT_TRUE(log.paths.empty());

  // An error page is not a video either.
  http.serve(404, "no such file");
  dialog->slot_WatchCourseware(dialog->entries()[1]);
  EXPECT_EQ(dialog->statusText(), QString());
  ASSERT_TRUE(waitUntil([&] { return !dialog->downloading(); }));
  EXPECT_EQ(dialog->statusText(), QStringLiteral("课件下载失败！"));
  EXPECT_FALSE(QFile::exists(cached("不存在")));
  EXPECT_TRUE(log.paths.empty());
  EXPECT_FALSE(dialog->playing());

  // A file that cannot be written: no request at all.
  const int before = http.connections;
  ASSERT_TRUE(QDir(cache.path()).mkdir("断线.mp4.part"));
  dialog->slot_WatchCourseware(dialog->entries()[0]);
  EXPECT_EQ(dialog->statusText(), QStringLiteral("不具备写权限！"));
  EXPECT_FALSE(dialog->downloading());
  QTest::qWait(0);
  EXPECT_EQ(http.connections, before);
}

TEST_F(PlayDialogTest, ProgressLabelsTheEndAndReplay) {
  QFile(cached("长课")).open(QIODevice::WriteOnly);
  QFile file(cached("长课"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("x");
  file.close();
  auto dialog = open(31);
  dialog->onGetCoursewares(
      QJsonObject{{"code", 0}, {"rows", QJsonArray{record(31, "长课", http.url("long.mp4"))}}});
  ASSERT_TRUE(dialog->playing());
  ASSERT_TRUE(observer_);

  // Reported from the player's thread, shown by the GUI thread.
  observer_->on_play_progress(5, 3725);
  EXPECT_EQ(text(*dialog, "playerCurrentTime"), "00:00:00");
  ASSERT_TRUE(waitUntil([&] { return text(*dialog, "playerCurrentTime") == "00:00:05"; }));
  EXPECT_EQ(text(*dialog, "playerTotalTime"), "01:02:05");
  EXPECT_EQ(dialog->findChild<QSlider*>("playerSlider")->maximum(), 3725);
  EXPECT_EQ(dialog->findChild<QSlider*>("playerSlider")->value(), 5);

  // Pause and go on.
  QTest::mouseClick(dialog->findChild<QPushButton*>("btnPlayPause"), Qt::LeftButton);
  QTest::mouseClick(dialog->findChild<QPushButton*>("btnPlayPause"), Qt::LeftButton);
  EXPECT_EQ(log.pauses, (std::vector<bool>{true, false}));

  // Progress equal to the total is the end.
  observer_->on_play_progress(3725, 3725);
  ASSERT_TRUE(waitUntil([&] { return !dialog->playing(); }));
  EXPECT_EQ(log.destroyed, 1);
  EXPECT_TRUE(shown(*dialog, "btnReplay"));
  EXPECT_FALSE(shown(*dialog, "btnPlayPause"));
  EXPECT_FALSE(dialog->findChild<QSlider*>("playerSlider")->isEnabled());

  QTest::mouseClick(dialog->findChild<QPushButton*>("btnReplay"), Qt::LeftButton);
  EXPECT_TRUE(dialog->playing());
  EXPECT_EQ(log.started, 2);
  EXPECT_FALSE(shown(*dialog, "btnReplay"));
  EXPECT_TRUE(shown(*dialog, "btnPlayPause"));
  EXPECT_EQ(dialog->findChild<QSlider*>("playerSlider")->value(), 0);

  // What the ended player still had on its way is not taken for the new one's.
  observer_->on_play_progress(3725, 3725);
  dialog->slot_PButtonReplay();
  QTest::qWait(0);
  QCoreApplication::processEvents();
  EXPECT_TRUE(dialog->playing());
  EXPECT_EQ(log.started, 3);
}

TEST_F(PlayDialogTest, ClickingTheBarSeeksAndPicturesArriveFitted) {
  QFile file(cached("课"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("x");
  file.close();
  auto dialog = open(41);
  QSlider* slider = dialog->findChild<QSlider*>("playerSlider");
  // Before anything plays the bar does nothing.
  QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() - 1, slider->height() / 2));
  EXPECT_TRUE(log.seeks.empty());

  dialog->onGetCoursewares(
      QJsonObject{{"code", 0}, {"rows", QJsonArray{record(41, "课", http.url("a.mp4"))}}});
  ASSERT_TRUE(dialog->playing());
  observer_->on_play_progress(1, 90);
  ASSERT_TRUE(waitUntil([&] { return slider->maximum() == 90; }));
  QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width(), slider->height() / 2));
  QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() / 2, slider->height() / 2));
  ASSERT_EQ(log.seeks.size(), 2u);
  EXPECT_EQ(log.seeks[0], 100);
  EXPECT_EQ(log.seeks[1], 50);

  // A 4:3 picture in a wider area keeps its shape; only the newest one of a
  // burst is converted for painting.
  CoursewareRenderWidget* render = dialog->findChild<CoursewareRenderWidget*>();
  const QSize area = render->size();
  std::vector<unsigned char> rgb(64 * 48 * 3, 0);
  for (size_t i = 0; i < rgb.size(); i += 3)
    rgb[i] = 200;  // red
  observer_->on_video_frame(rgb.data(), 64, 48);
  rgb.assign(rgb.size(), 0);
  for (size_t i = 2; i < rgb.size(); i += 3)
    rgb[i] = 200;  // blue
  observer_->on_video_frame(rgb.data(), 64, 48);
  rgb.assign(rgb.size(), 255);  // the player reuses its buffer
  ASSERT_TRUE(waitUntil([&] { return render->hasFrame(); }));
  const QImage picture = render->frame();
  QSize expected(64, 48);
  expected.scale(area, Qt::KeepAspectRatio);
  EXPECT_EQ(picture.size(), expected);
  EXPECT_EQ(QColor(picture.pixel(picture.width() / 2, picture.height() / 2)), QColor(0, 0, 200));

  // Double click: full size (the player pauses and goes on), again: back.
  const QRect normal = dialog->geometry();
  log.pauses.clear();
  QTest::mouseDClick(render, Qt::LeftButton);
  EXPECT_TRUE(dialog->fullSize());
  EXPECT_FALSE(shown(*dialog, "playerSide"));
  EXPECT_FALSE(shown(*dialog, "playerControls"));
  ASSERT_TRUE(waitUntil([&] { return log.pauses.size() == 2; }));
  EXPECT_EQ(log.pauses, (std::vector<bool>{true, false}));
  QTest::keyClick(dialog.get(), Qt::Key_Escape);
  EXPECT_FALSE(dialog->fullSize());
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(shown(*dialog, "playerSide"));
  EXPECT_EQ(dialog->geometry(), normal);
}

TEST_F(PlayDialogTest, ListFailuresAndAPlayerThatCannotStart) {
  auto dialog = open(51);
  takeToast();
  dialog->onGetCoursewares(QJsonObject{});
  EXPECT_EQ(takeToast(), QStringLiteral("网络不给力，请检查网络后重试！"));
  dialog->onGetCoursewares(QJsonObject{{"code", 500}, {"rows", QJsonArray{record(51, "a", "")}}});
  EXPECT_EQ(takeToast(), QStringLiteral("未能获取到课件相应数据！"));
  dialog->onGetCoursewares(QJsonObject{{"code", 0}, {"rows", QJsonArray{}}});
  EXPECT_EQ(takeToast(), QStringLiteral("未能获取到课件相应数据！"));
  EXPECT_TRUE(dialog->entries().isEmpty());

  QFile file(cached("a"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("x");
  file.close();
  log.startResult = -1;
  dialog->onGetCoursewares(QJsonObject{{"code", 0}, {"rows", QJsonArray{record(51, "a", "")}}});
  EXPECT_EQ(log.started, 1);
  EXPECT_FALSE(dialog->playing());
  EXPECT_EQ(dialog->statusText(), QStringLiteral("启动播放失败！"));
}

TEST_F(PlayDialogTest, FollowShowsWhatTheServiceConfirmed) {
  const QString path = QString::fromLatin1(ServiceApi::kSelectRoomAssociatedByIds.path);
  rig.context.keepStartAnswer(path,
                              QJsonObject{{"code", 0}, {"body", QJsonObject{{"followed", true}}}});
  auto dialog = open(61);
  EXPECT_TRUE(dialog->followed());
  takeToast();
  dialog->onCancelAttention_back(QJsonObject{});
  EXPECT_EQ(takeToast(), QStringLiteral("网络不给力，请检查网络后重试！"));
  EXPECT_TRUE(dialog->followed());
  dialog->onCancelAttention_back(QJsonObject{{"code", 0}});
  EXPECT_EQ(takeToast(), QStringLiteral("取消关注班级成功！"));
  EXPECT_FALSE(dialog->followed());
  // The classroom's own button reads the same answer.
  EXPECT_FALSE(
      rig.context.startAnswer(path).value("body").toObject().value("followed").toBool(true));
  dialog->onAttention_back(QJsonObject{{"code", 0}});
  EXPECT_EQ(takeToast(), QStringLiteral("关注班级成功！"));
  EXPECT_TRUE(dialog->followed());
}

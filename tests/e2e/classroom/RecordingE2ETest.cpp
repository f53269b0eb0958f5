// Class recording through the real servers: the teacher's window records about 70 s of a
// class in which a student (pavo-bot, its own process) publishes its synthetic camera and a
// 660 Hz tone, the teacher (440 Hz) shares a document, draws on its page with the mouse and
// turns the page, its window minimised for a while; the teacher publishes the recording;
// a student's window finds it in the courseware list, buys it and plays it. The published
// file is read back with FFmpeg: its length, both streams, the stroke and the turned page
// at their moments, and both tones.
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QUrlQuery>
#include <QtTest/QTest>

#include "ClassroomFixture.h"
#include "Mp4Probe.h"
#include "RecordingControl.h"
#include "SharedArea.h"
#include "UploadCoursewareDlg.h"
#include "VWPaintWidget.h"
#include "WindowMember.h"
#include "velmedia/velmedia.h"
#include "video/Server.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;
const QString kDocument = QStringLiteral("录课讲义");
const QString kName = QStringLiteral("第五章 录课");
const QColor kPage1(220, 60, 60), kPage2(60, 60, 220);

bool near(QColor a, QColor b, int tolerance = 45) {
  return std::abs(a.red() - b.red()) < tolerance && std::abs(a.green() - b.green()) < tolerance &&
         std::abs(a.blue() - b.blue()) < tolerance;
}

// Whether a green stroke crosses the column at x near row y of the frame.
bool greenStrokeAt(const QImage& frame, int x, int y) {
  for (int dy = -12; dy <= 12; ++dy) {
    const QColor c = frame.pixelColor(x, y + dy);
    if (c.green() > 150 && c.red() < 120 && c.blue() < 120)
      return true;
  }
  return false;
}

QByteArray fetch(const QUrl& url, int* status = nullptr) {
  QNetworkAccessManager manager;
  QNetworkReply* reply = manager.get(QNetworkRequest(url));
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  loop.exec();
  if (status)
    *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  const QByteArray body = reply->readAll();
  reply->deleteLater();
  return body;
}

class RecordingE2E : public ClassroomTest {
protected:
  void SetUp() override {
    ClassroomTest::SetUp();
    video::Config config;
    config.listen_port = 0;
    config.data_dir = (home_.home() + "/video").toStdString();
    config.internal_token = testsupport::kTestSecret;
    config.service_url = ("http://" + servers_.host()).toStdString();
    video_ = std::make_unique<video::Server>(config);
    videoPort_ = video_->start();
    ASSERT_NE(videoPort_, 0) << video_->error();
    // The teacher's window speaks with the synthetic microphone (after the machine's own).
    std::unique_ptr<velaudio_device> devices(velaudio_device::create());
    ASSERT_TRUE(devices);
    LocalConfig::instance()->setValue("conf/microphoneIndex", devices->get_microphone_count() - 1);
  }
  void TearDown() override {
    if (bot_.state() != QProcess::NotRunning) {
      bot_.closeWriteChannel();
      if (!bot_.waitForFinished(10000))
        bot_.kill();
    }
    ClassroomTest::TearDown();
    video_.reset();
  }

  // The student as a bot of its own process, with a 660 Hz tone.
  bool startBot() {
    const QString wav = home_.home() + "/660.wav";
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                            "sine=frequency=660:sample_rate=48000", "-t", "4", "-ac", "2", wav});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
      return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TAV_FAKE_MICROPHONE_WAV", wav);
    bot_.setProcessEnvironment(env);
    bot_.setProcessChannelMode(QProcess::SeparateChannels);
    bot_.setStandardErrorFile(home_.home() + "/bot-stderr.txt");
    bot_.start(
        testsupport::binDir() + "/pavo-bot",
        {"--room", QString::number(kRoom), "--user", QString::number(kStudent), "--credential",
         QString::fromStdString(testsupport::testCredential(kStudent, kRoom, 2)), "--mcu",
         QStringLiteral("127.0.0.1:%1").arg(servers_.mcuPort()), "--open", "audio,video",
         "--workdir", testsupport::binDir()});
    QByteArray out;
    return waitUntil([&] {
      out += bot_.readAllStandardOutput();
      return out.contains("media_open 10003 2") && out.contains("media_open 10003 1");
    });
  }

  // A document of two pages: in the teacher's own folder and in the room's files.
  int prepareDocument() {
    for (int page = 1; page <= 2; ++page) {
      QImage image(800, 600, QImage::Format_RGB32);
      image.fill(page == 1 ? kPage1 : kPage2);
      const QString name = QStringLiteral("%1_%2.png").arg(kDocument).arg(page);
      const QString local =
          DataFolder::path() + QStringLiteral("sharingfiles/%1/%2/").arg(kRoom).arg(kDocument);
      QDir().mkpath(local);
      if (!image.save(local + name, "PNG"))
        return 0;
      QFile file(local + name);
      file.open(QIODevice::ReadOnly);
      QUrl url(QStringLiteral("http://%1/uds/upload").arg(servers_.host()));
      QUrlQuery query;
      query.addQueryItem("roomId", QString::number(kRoom));
      query.addQueryItem("userId", QString::number(kTeacher));
      query.addQueryItem("name", name);
      url.setQuery(query);
      QNetworkRequest request(url);
      request.setRawHeader("X-Tav-Ticket", LoginInfo::current().ticket.toLatin1());
      request.setHeader(QNetworkRequest::ContentTypeHeader, "image/png");
      QNetworkAccessManager manager;
      QNetworkReply* reply = manager.post(request, file.readAll());
      QEventLoop loop;
      QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
      loop.exec();
      const bool stored = reply->error() == QNetworkReply::NoError;
      reply->deleteLater();
      if (!stored)
        return 0;
    }
    const QJsonObject added = testsupport::postAndWait(
        ServiceApi::kAddSharingInfo,
        FormBody(ServiceApi::kAddSharingInfo.body).arg(kRoom).arg(kDocument).arg(kDocument).arg(2));
    return added.value("id").toVariant().toInt();
  }

  // Seconds on the recording's clock as the window shows it.
  int clockSeconds() {
    const QStringList parts = part<QLabel>("labelRecordTime")->text().split(':');
    return parts.size() == 3 ? parts[0].toInt() * 3600 + parts[1].toInt() * 60 + parts[2].toInt()
                             : -1;
  }
  bool clockReaches(int seconds) {
    return waitUntil([&] { return clockSeconds() >= seconds; },
                     int(testsupport::wait_limit(std::chrono::seconds(300)).count()));
  }

  std::unique_ptr<video::Server> video_;
  QProcess bot_;
};

}  // namespace

TEST_F(RecordingE2E, AClassRecordedIsPublishedBoughtAndPlayedAsItWasSeen) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  part<QPushButton>("btnStartClass")->click();
  ASSERT_TRUE(waitUntil([&] { return session().classInProgress(); }));
  ASSERT_TRUE(startBot());
  ASSERT_TRUE(waitUntil([&] { return session().contains(kStudent); }));

  // The document's first page shown.
  const int document = prepareDocument();
  ASSERT_NE(document, 0);
  SharedArea& area = *part<SharedArea>();
  area.onSharingDocument(document, kDocument, 2);
  ASSERT_TRUE(waitUntil([&] { return area.state().mode == 3 && !area.picture().isNull(); }));

  // Recording: the recorder joins unseen and the clock runs.
  auto* record = part<QPushButton>("btnRecord");
  ASSERT_TRUE(record && record->isVisible());
  record->click();
  ASSERT_TRUE(waitUntil([&] { return part<QTimer>("recordClock") != nullptr; }));
  // The recording's own time (the window's clock counts its timer's ticks, which a busy
  // window may deliver late).
  QElapsedTimer since;
  since.start();
  auto now = [&] { return since.elapsed() / 1000.0; };
  EXPECT_FALSE(session().contains(kTeacher | 0x80000000u)) << "the recorder is nobody's member";

  // A green stroke across the middle of the page, drawn with the mouse.
  ASSERT_TRUE(clockReaches(8));
  part<QPushButton>("btnAnnotation")->click();
  ASSERT_TRUE(waitUntil([&] { return RoomContext::current().annotatingId == kTeacher; }));
  auto* canvas = part<vw::VWPaintWidget>("whiteboardCanvas");
  ASSERT_TRUE(waitUntil([&] { return canvas->isVisible(); }));
  QTest::mouseClick(part<QAbstractButton>("btnGreen"), Qt::LeftButton);
  QTest::mouseClick(part<QAbstractButton>("btnLineWidth3"), Qt::LeftButton);
  const QPoint from(canvas->width() / 10, canvas->height() / 2);
  const QPoint to(canvas->width() * 9 / 10, canvas->height() / 2);
  QTest::mousePress(canvas, Qt::LeftButton, Qt::NoModifier, from);
  for (int i = 1; i <= 20; ++i) {
    const QPoint p = from + (to - from) * i / 20;
    QMouseEvent move(QEvent::MouseMove, p, canvas->mapToGlobal(p), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
  }
  QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, to);
  const double strokeAt = now();

  // The window minimised for a while: the recording does not depend on it.
  ASSERT_TRUE(clockReaches(20));
  classroom_->showMinimized();
  ASSERT_TRUE(clockReaches(40));
  classroom_->showNormal();

  // The next page (the sharer's turn clears the board).
  ASSERT_TRUE(clockReaches(45));
  area.btnNextPic_clicked();
  ASSERT_EQ(area.state().page, 2);
  const double turnAt = now();

  // Stopped after 70 s: the publishing dialog is answered as the teacher would.
  ASSERT_TRUE(clockReaches(70));
  const double recorded = now();
  QElapsedTimer publishing;
  qint64 publishedAfterMs = -1;
  bool filled = false;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* dialog = qobject_cast<UploadCoursewareDlg*>(modal); dialog && !filled) {
      filled = true;
      dialog->findChild<QLineEdit*>("uploadCoursewareName")->setText(kName);
      dialog->findChild<QLineEdit*>("uploadCoursewarePrice")->setText("3");
      dialog->findChild<QLineEdit*>("uploadCoursewareGrade")->setText(QStringLiteral("初二"));
      publishing.start();
      dialog->findChild<QPushButton*>("btnPublish")->click();
    } else if (auto* box = qobject_cast<QNMessageBox*>(modal)) {
      if (box->message() == QStringLiteral("上传课件成功！"))
        publishedAfterMs = publishing.elapsed();
      box->accept();
    }
  });
  answer.start(50);
  record->click();  // returns when the publishing dialog is done
  answer.stop();
  ASSERT_TRUE(filled);
  ASSERT_GT(publishedAfterMs, 0) << "not published";
  EXPECT_FALSE(record->isChecked());
  EXPECT_EQ(record->text(), QStringLiteral("录制"));
  std::printf("figure: 确认发布 to playable (OD and LD) of %.0f s: %lld ms\n", recorded,
              static_cast<long long>(publishedAfterMs));

  // The published courseware, its original rendition read back.
  const QJsonObject found = testsupport::postAndWait(
      ServiceApi::kCoursewareFindByName,
      FormBody(ServiceApi::kCoursewareFindByName.body).arg(kRoom).arg(kName));
  ASSERT_EQ(found.value("code").toInt(-1), 0);
  const QJsonObject course = found.value("body").toObject();
  const int coursewareId = course.value("id").toInt();
  const QJsonArray renditions =
      QJsonDocument::fromJson(course.value("filePath").toString().toUtf8())
          .object()
          .value("PlayInfoList")
          .toObject()
          .value("PlayInfo")
          .toArray();
  ASSERT_EQ(renditions.size(), 2);
  QString od;
  for (const QJsonValue& r : renditions)
    if (r.toObject().value("Definition").toString() == "OD")
      od = r.toObject().value("PlayURL").toString();
  int status = 0;
  const QByteArray bytes = fetch(QUrl(od), &status);
  ASSERT_EQ(status, 200);
  const QString file = home_.home() + "/published.mp4";
  QFile out(file);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(bytes);
  out.close();
  const testsupport::Mp4Info info = testsupport::probeMp4(file);
  EXPECT_EQ(info.videoCodec, "h264");
  EXPECT_EQ(info.audioCodec, "aac");
  EXPECT_NEAR(info.seconds, recorded, 2.0);
  std::printf("figure: MP4 bitrate %.0f kbit/s (%lld bytes, %.1f s)\n",
              bytes.size() * 8.0 / 1000.0 / info.seconds, static_cast<long long>(bytes.size()),
              info.seconds);

  // The page and the stroke at their moments; the student's camera in its tile.
  const QImage before = testsupport::mp4FrameAt(file, strokeAt - 4);
  const QImage stroked = testsupport::mp4FrameAt(file, strokeAt + 4);
  const QImage turned = testsupport::mp4FrameAt(file, turnAt + 4);
  ASSERT_FALSE(before.isNull() || stroked.isNull() || turned.isNull());
  EXPECT_TRUE(near(before.pixelColor(480, 150), kPage1));
  EXPECT_FALSE(greenStrokeAt(before, 480, 360));
  EXPECT_TRUE(near(stroked.pixelColor(480, 150), kPage1));
  EXPECT_TRUE(greenStrokeAt(stroked, 480, 360));
  EXPECT_TRUE(greenStrokeAt(stroked, 200, 360));
  EXPECT_TRUE(near(turned.pixelColor(480, 150), kPage2));
  EXPECT_FALSE(greenStrokeAt(turned, 480, 360));
  const QColor tile = turned.pixelColor(1120, 360);
  EXPECT_FALSE(near(tile, QColor(0x2b, 0x2b, 0x2b), 12) || near(tile, Qt::black, 12))
      << "the student's tile shows its camera";
  // Both voices in the mix.
  const auto sound = testsupport::mp4Sound(file, info.seconds - 12, info.seconds - 2);
  EXPECT_GT(testsupport::toneShare(sound, 48000, 440), 0.1) << "the teacher's tone";
  EXPECT_GT(testsupport::toneShare(sound, 48000, 660), 0.1) << "the student's tone";

  // A student's window finds it, buys it and plays it.
  auto student = std::make_unique<WindowMember>(
      "student2", kRoom, servers_.host(), servers_.mcuPort(), servers_.msgPort(), home_.home());
  ASSERT_TRUE(student->waitFor("ready")) << student->lines().join('\n').toStdString();
  ASSERT_TRUE(waitUntil([&] {
    for (const QString& line : student->lines())
      if (line.startsWith("courseware ") && line.contains(kName))
        return true;
    return false;
  })) << student->lines().join('\n').toStdString();
  student->send(QStringLiteral("watch %1").arg(coursewareId));
  ASSERT_TRUE(student->waitFor("bought yes")) << student->lines().join('\n').toStdString();
  ASSERT_TRUE(student->waitFor(QStringLiteral("player %1").arg(coursewareId)));
  EXPECT_TRUE(waitUntil([&] {
    for (const QString& line : student->lines())
      if (line.startsWith("playing ") && line.split(' ').value(1).toInt() >= 2)
        return true;
    return false;
  })) << student->lines().join('\n').toStdString();
}

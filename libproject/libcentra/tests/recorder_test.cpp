// The recorder against the real MCU, service and video server: it joins a running class
// unseen, gets the board and the shared picture from the teacher as a newcomer does,
// records the class (the picture, the teacher's stroke over it, the teacher's camera and
// tone) into an MP4 and publishes it; it never starts twice, ends cleanly while connecting,
// is refused with a student's credential, tells a lost class; a full disk ends the recording
// with what was written kept, and that recording is found and published later.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/resource.h>

#include <QBuffer>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <mutex>
#include <vector>

#include "Mp4Probe.h"
#include "ServiceHarness.h"
#include "TestCredentials.h"
#include "control_wire.h"
#include "eventually.h"
#include "libcentra/centra.h"
#include "mcu/server.h"
#include "recording_observer.h"
#include "video/Server.h"

namespace {

namespace fs = std::filesystem;
using testsupport::eventually;

constexpr uint32_t kRoom = 1001, kTeacher = 10001, kStudent = 10003;
constexpr uint32_t kRecorder = kTeacher | pavo_wire::recorder_id_bit;

struct Notes {
  std::mutex mutex;
  std::vector<std::pair<int, int>> got;  // code, the upload's result
  static void callback(void* context, record_msg_t msg, void* arg) {
    auto* self = static_cast<Notes*>(context);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->got.emplace_back(msg, arg ? *static_cast<int32_t*>(arg) : -100);
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return got.size();
  }
  bool has(int code) {
    std::lock_guard<std::mutex> lock(mutex);
    return std::any_of(got.begin(), got.end(), [code](auto& n) { return n.first == code; });
  }
  int result(int code) {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& n : got)
      if (n.first == code)
        return n.second;
    return -200;
  }
};

QByteArray json(const QJsonObject& o) {
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool near(QColor a, QColor b, int tolerance = 50) {
  return std::abs(a.red() - b.red()) < tolerance && std::abs(a.green() - b.green()) < tolerance &&
         std::abs(a.blue() - b.blue()) < tolerance;
}

class RecorderTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = tavtest::makeTempDir();
    mcu::Config mc;
    mc.listen_port = 0;
    mc.media_port_base = 0;
    mc.internal_token = testsupport::kTestSecret;
    mcu_ = std::make_unique<mcu::Server>(mc);
    mcuPort_ = mcu_->start();
    ASSERT_NE(mcuPort_, 0);
    video::Config vc;
    vc.listen_port = 0;
    vc.data_dir = (dir_ / "video").string();
    vc.internal_token = testsupport::kTestSecret;
    vc.service_url = "http://127.0.0.1:" + std::to_string(service_.port());
    video_ = std::make_unique<video::Server>(vc);
    videoPort_ = video_->start();
    ASSERT_NE(videoPort_, 0);
    ticket_ = service_.login("teacher").ticket;
    folder_ = (dir_ / "recordings").string();
    fileServer_ = "127.0.0.1:" + std::to_string(service_.port());
  }
  void TearDown() override {
    if (teacher_)
      Libpavo::destory(teacher_);
    video_.reset();
    mcu_.reset();
    fs::remove_all(dir_);
  }

  centra* record(Notes& notes, const std::string& credential, const char* recording = nullptr) {
    const std::string teacherCredential = credential;
    centra_options options{teacherCredential.c_str(), ticket_.c_str(), fileServer_.c_str(),
                           folder_.c_str(),           recording,       nullptr};
    return centra::create(kRoom, kTeacher, "127.0.0.1", mcuPort_, video_format_mp4, false,
                          "127.0.0.1", videoPort_, &Notes::callback, &notes, options);
  }

  // The teacher as a member of its own: in the room, the class started.
  void teacherStartsTheClass() {
    teacher_ =
        Libpavo::create(&observer_, kTeacher, kRoom, "127.0.0.1", mcuPort_, user_role_teacher,
                        testsupport::testCredential(kTeacher, kRoom, 1).c_str());
    ASSERT_TRUE(teacher_);
    observer_.owner = teacher_;
    ASSERT_TRUE(observer_.next_event(pavo_event_connect_state));
    ASSERT_EQ(teacher_->start_class(), 0);
    ASSERT_TRUE(observer_.next("ss_start_class"));
  }

  void teacherSends(const QJsonObject& msg) {
    const QByteArray text = json(msg);
    teacher_->send_p2all_msg(reinterpret_cast<const uint8_t*>(text.constData()),
                             unsigned(text.size()));
  }

  std::string tag(const std::string& name) {
    return "roomId=1001,globalId=10001,coursewareName=" + name +
           ",price=0,description=录像,grade=初二";
  }

  tavtest::ServiceHarness service_{
      true, [](tavsvc::ServiceConfig& c) { c.internalToken = testsupport::kTestSecret; }};
  fs::path dir_;
  std::unique_ptr<mcu::Server> mcu_;
  std::unique_ptr<video::Server> video_;
  uint16_t mcuPort_ = 0, videoPort_ = 0;
  std::string ticket_, folder_, fileServer_;
  pavo_test::recording_observer observer_;
  Libpavo* teacher_ = nullptr;
};

TEST_F(RecorderTest, RecordsTheClassAsItsStudentsSeeItAndPublishesIt) {
  // A green picture the teacher shares, in the room's files.
  QImage green(640, 480, QImage::Format_RGB32);
  green.fill(Qt::green);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  green.save(&buffer, "PNG");
  httplib::Client files("127.0.0.1", service_.port());
  ASSERT_EQ(files
                .Post("/uds/upload?roomId=1001&userId=10001&name=green.png",
                      {{"X-Tav-Ticket", ticket_}}, png.toStdString(), "image/png")
                ->status,
            200);

  teacherStartsTheClass();
  // The synthetic devices come after the machine's own.
  for (const int kind : {1, 2}) {
    const int count =
        teacher_->media_ctrl(media_cmd_device_count, reinterpret_cast<void*>(intptr_t{kind}));
    device_select_t last{kind, uint16_t(count - 1)};
    ASSERT_EQ(teacher_->media_ctrl(media_cmd_select_device, &last), 0);
  }
  user_media_kind_t camera{kTeacher, 1}, microphone{kTeacher, 2};
  ASSERT_EQ(teacher_->media_ctrl(media_cmd_open_media, &camera), 0);
  ASSERT_EQ(teacher_->media_ctrl(media_cmd_open_media, &microphone), 0);

  Notes notes;
  std::unique_ptr<centra> recorder(record(notes, testsupport::testCredential(kTeacher, kRoom, 1)));
  ASSERT_TRUE(recorder);
  ASSERT_TRUE(eventually([&] { return notes.has(record_msg_ready); }));
  // It asks as a newcomer: the board of the class's starter, what the sharer shows. The
  // teacher answers both, as its window does.
  auto asked = observer_.next("p2p_msg");
  ASSERT_TRUE(asked);
  EXPECT_EQ(uint32_t(asked->args[0]), kRecorder);
  const QByteArray nothing = json({{"typeId", 109}, {"content", "-1"}});
  teacher_->send_p2p_msg(kRecorder, reinterpret_cast<const uint8_t*>(nothing.constData()),
                         unsigned(nothing.size()));
  // Nobody holds the share floor yet: the teacher takes it and shares the picture.
  ASSERT_EQ(teacher_->start_share(), 0);
  ASSERT_TRUE(observer_.next("ss_start_share"));
  teacherSends({{"typeId", "72"},
                {"fileType", "2"},
                {"fileName", "green.png"},
                {"fileUploaderUserId", double(kTeacher)},
                {"curRotateAngle", 0},
                {"picDispMode", 0}});

  ASSERT_EQ(recorder->begin_record(), 0);
  EXPECT_EQ(recorder->begin_record(), -1);
  // A blue stroke across the middle of the picture.
  teacherSends({{"typeId", 111},
                {"penShapeType", 1},
                {"penWidth", 24},
                {"penColor", QJsonObject{{"r", 0}, {"g", 0}, {"b", 255}, {"a", 255}}}});
  const double xs[] = {0.1, 0.3, 0.5, 0.7, 0.9};
  for (int i = 0; i < 5; ++i)
    teacherSends({{"typeId", 100},
                  {"sendUserId", double(kTeacher)},
                  {"content", i == 0 ? 1 : 2},
                  {"x", xs[i]},
                  {"y", 0.5}});
  teacherSends({{"typeId", 100}, {"sendUserId", double(kTeacher)}, {"content", 3}});
  ASSERT_TRUE(eventually([&] { return recorder->record_seconds() >= 5; }));
  ASSERT_EQ(recorder->end_record(), 0);
  EXPECT_EQ(recorder->end_record(), -1);
  EXPECT_EQ(recorder->begin_record(), -1) << "a recording never starts twice";

  char path[1024];
  ASSERT_EQ(recorder->record_file(path, sizeof path), 0);
  const QString file = QString::fromLocal8Bit(path);
  const testsupport::Mp4Info info = testsupport::probeMp4(file);
  ASSERT_TRUE(info.opened);
  EXPECT_EQ(info.videoCodec, "h264");
  EXPECT_EQ(info.audioCodec, "aac");
  EXPECT_EQ(info.width, 1280);
  EXPECT_EQ(info.height, 720);
  EXPECT_NEAR(info.seconds, recorder->record_seconds(), 1.5);
  // At the end: the picture fitted into the content area, the stroke over it, the teacher's
  // camera in the first tile; the teacher's tone in the sound.
  const QImage last = testsupport::mp4FrameAt(file, info.seconds);
  ASSERT_FALSE(last.isNull());
  EXPECT_TRUE(near(last.pixelColor(480, 200), Qt::green))
      << last.pixelColor(480, 200).name().toStdString();
  EXPECT_TRUE(near(last.pixelColor(480, 360), Qt::blue))
      << last.pixelColor(480, 360).name().toStdString();
  EXPECT_FALSE(near(last.pixelColor(1120, 120), QColor(0x2b, 0x2b, 0x2b), 10));
  const auto sound = testsupport::mp4Sound(file, info.seconds - 3, info.seconds);
  EXPECT_GT(testsupport::toneShare(sound, 48000, 440), 0.1);

  // Published: its files go once the video server has it, and it is the room's courseware.
  ASSERT_EQ(recorder->upload_record(tag("录课").data(), unsigned(tag("录课").size())), 0);
  ASSERT_TRUE(eventually([&] { return notes.has(record_msg_upload_done); },
                         testsupport::wait_limit(std::chrono::seconds(180))));
  EXPECT_EQ(notes.result(record_msg_upload_done), 0);
  EXPECT_FALSE(fs::exists(fs::path(path).parent_path()));
  const auto list = service_.post("rms/service/courseware/findbyName",
                                  tavtest::form({{"roomId", "1001"}, {"coursewareName", "录课"}}));
  EXPECT_EQ(list["code"], 0) << list.dump();
}

TEST_F(RecorderTest, NeverStartsTwiceEndsCleanlyAndTellsWhatWentWrong) {
  Notes refused;
  // Bad arguments, the form without a credential, a student's credential.
  EXPECT_FALSE(centra::create(kRoom, kTeacher, "127.0.0.1", mcuPort_, video_format_flv, false,
                              "127.0.0.1", videoPort_, &Notes::callback, &refused));
  EXPECT_FALSE(centra::create(kRoom, kRecorder, "127.0.0.1", mcuPort_, video_format_mp4, false,
                              "127.0.0.1", videoPort_, &Notes::callback, &refused));
  std::unique_ptr<centra> bare(centra::create(kRoom, kTeacher, "127.0.0.1", mcuPort_,
                                              video_format_mp4, false, "127.0.0.1", videoPort_,
                                              &Notes::callback, &refused));
  ASSERT_TRUE(bare);
  ASSERT_TRUE(eventually([&] { return refused.has(record_msg_connect_failed); }));
  EXPECT_FALSE(refused.has(record_msg_ready));
  EXPECT_EQ(bare->begin_record(), -1);
  bare.reset();
  Notes student;
  std::unique_ptr<centra> byStudent(
      record(student, testsupport::testCredential(kStudent, kRoom, 2)));
  ASSERT_TRUE(eventually([&] { return student.has(record_msg_connect_failed); }));

  // Stopped while connecting: nothing is told after it is gone (the next recorder's ready
  // comes later than that one's would have).
  Notes early;
  std::unique_ptr<centra> gone(record(early, testsupport::testCredential(kTeacher, kRoom, 1)));
  gone.reset();
  const size_t told = early.count();

  // A recording the class loses (the member cut off) ends with what was recorded kept.
  teacherStartsTheClass();
  Notes notes;
  std::unique_ptr<centra> recorder(record(notes, testsupport::testCredential(kTeacher, kRoom, 1)));
  ASSERT_TRUE(eventually([&] { return notes.has(record_msg_ready); }));
  EXPECT_EQ(early.count(), told);
  EXPECT_EQ(recorder->upload_record("x", 1), -1) << "nothing recorded yet";
  ASSERT_EQ(recorder->begin_record(), 0);
  ASSERT_TRUE(eventually([&] { return recorder->record_seconds() >= 3; }));
  EXPECT_EQ(recorder->pause_record(), 0);
  EXPECT_EQ(recorder->pause_record(), -1);
  EXPECT_EQ(recorder->resume_record(), 0);
  ASSERT_TRUE(mcu_->disconnect_user(kRoom, kRecorder));
  ASSERT_TRUE(eventually([&] { return notes.has(record_msg_stream_lost); }));
  EXPECT_EQ(recorder->end_record(), -1);
  char path[1024];
  ASSERT_EQ(recorder->record_file(path, sizeof path), 0);
  EXPECT_GT(testsupport::probeMp4(QString::fromLocal8Bit(path)).seconds, 2.0);
  recorder.reset();
  char found[1024];
  EXPECT_GE(centra::find_unpublished(folder_.c_str(), kRoom, kTeacher, found, sizeof found), 2);
  EXPECT_STREQ(found, path);
  EXPECT_EQ(centra::discard_unpublished(found), 0);
  EXPECT_EQ(centra::find_unpublished(folder_.c_str(), kRoom, kTeacher, found, sizeof found), -1);
}

TEST_F(RecorderTest, AFullDiskEndsTheRecordingKeepsWhatWasWrittenAndItIsPublishedLater) {
  teacherStartsTheClass();
  Notes notes;
  std::unique_ptr<centra> recorder(record(notes, testsupport::testCredential(kTeacher, kRoom, 1)));
  ASSERT_TRUE(eventually([&] { return notes.has(record_msg_ready); }));
  ASSERT_EQ(recorder->begin_record(), 0);
  // Two fragments on the disk, then no room for more.
  ASSERT_TRUE(eventually([&] { return recorder->record_seconds() >= 5; }));
  char path[1024];
  ASSERT_EQ(recorder->record_file(path, sizeof path), 0);
  const auto written = fs::file_size(path);
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit old{}, full{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  full = old;
  full.rlim_cur = written + 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
  const bool failed = eventually([&] { return notes.has(record_msg_write_failed); });
  ::setrlimit(RLIMIT_FSIZE, &old);
  ASSERT_TRUE(failed);
  EXPECT_EQ(recorder->end_record(), -1);
  const testsupport::Mp4Info kept = testsupport::probeMp4(QString::fromLocal8Bit(path));
  EXPECT_EQ(kept.videoCodec, "h264");
  EXPECT_GE(kept.seconds, 3.5);
  recorder.reset();

  // The next start finds it and publishes it; then it is gone.
  char found[1024];
  const int seconds =
      centra::find_unpublished(folder_.c_str(), kRoom, kTeacher, found, sizeof found);
  EXPECT_GE(seconds, 4);
  EXPECT_STREQ(found, path);
  Notes later;
  std::unique_ptr<centra> again(
      record(later, testsupport::testCredential(kTeacher, kRoom, 1), found));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->record_seconds(), seconds);
  EXPECT_EQ(again->begin_record(), -1);
  const std::string desc = tag("补发录像");
  ASSERT_EQ(again->upload_record(desc.data(), unsigned(desc.size())), 0);
  ASSERT_TRUE(eventually([&] { return later.has(record_msg_upload_done); },
                         testsupport::wait_limit(std::chrono::seconds(180))));
  EXPECT_EQ(later.result(record_msg_upload_done), 0);
  EXPECT_FALSE(later.has(record_msg_ready));
  EXPECT_EQ(centra::find_unpublished(folder_.c_str(), kRoom, kTeacher, found, sizeof found), -1);
}

}  // namespace

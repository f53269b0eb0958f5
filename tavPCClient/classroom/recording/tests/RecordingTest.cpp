// Recording in the classroom on a stand-in recorder (its notifications scripted) and a hand
// driven clock: the ten arguments of the recorder in their order, the clock's text, the
// minute a recording needs to be published, failures before and after the start, the upload's
// result (also when it comes from the recorder's thread after its argument is gone), ending
// the class while recording, a recording left unpublished; and the publishing dialog's rules
// and its tag.
#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <thread>

#include "ClassroomRig.h"
#include "CoursewarePublishing.h"
#include "DataFolder.h"
#include "Prompt.h"
#include "RecordingControl.h"
#include "RoomMessageTypes.h"
#include "TestSupport.h"
#include "UploadCoursewareDlg.h"

namespace {

constexpr quint32 kTeacher = 10001;

struct FakeRecorder : centra {
  int begun = 0, ended = 0;
  QByteArray uploaded;
  int uploadAnswer = 0;
  bool* gone = nullptr;
  // Beginnings and ends counted where they outlive the recorder.
  int* begins = nullptr;
  int* ends = nullptr;
  ~FakeRecorder() override {
    if (gone)
      *gone = true;
  }
  int begin_record() override {
    if (begins)
      ++*begins;
    return ++begun == 1 ? 0 : -1;
  }
  int end_record() override {
    if (ends)
      ++*ends;
    return ++ended == 1 ? 0 : -1;
  }
  int pause_record() override { return -1; }
  int resume_record() override { return -1; }
  int record_seconds() override { return -1; }
  int record_file(char*, unsigned) override { return -1; }
  int upload_record(const char* desc, unsigned length) override {
    uploaded = QByteArray(desc, int(length));
    return uploadAnswer;
  }
};

// The courseware list's side: a dialog that ends as the test says once it is shown.
struct FakeShelf : CoursewarePublishing {
  int shown = 0, reloaded = 0;
  int result = QDialog::Accepted;
  centra* recorder = nullptr;
  QDialog* publishingDialog(centra* r, QWidget* parent) override {
    ++shown;
    recorder = r;
    auto* dialog = new QDialog(parent);
    QTimer::singleShot(0, dialog, [dialog, this] { dialog->done(result); });
    return dialog;
  }
  void reloadCourseware() override { ++reloaded; }
};

QString takeToast() {
  const QString text = Prompt::instance()->text();
  Prompt::instance()->setText(QString());
  return text;
}

class RecordingTest : public ::testing::Test {
protected:
  void SetUp() override {
    DataFolder::setPath(home_.clientDataFolder());
    rig_.entry.mcuAddress = QStringLiteral("192.168.1.9");
    rig_.entry.mcuPort = 27802;
    rig_.entry.videoServer = ServerAddress::parse(QStringLiteral("192.168.1.7:27804"));
    rig_.entry.fileServer = ServerAddress::parse(QStringLiteral("192.168.1.8:27800"));
    rig_.entry.recordContentOnly = true;
    rig_.entry.credential = QStringLiteral("1.10001.1001.1.99.abc");
    rig_.session.setOwnRole(RoomContext::kTeacher, false);
    rig_.context.provide<CoursewarePublishing>(&shelf_);
    RecordingControl::setRecorderMaker([this](const RecorderArguments& a) -> centra* {
      made_.push_back(a);
      // The texts the options point to live during the call only.
      recordings_.push_back(a.options.recording ? QByteArray(a.options.recording) : QByteArray());
      credentials_.push_back(QByteArray(a.options.credential));
      fileServers_.push_back(QByteArray(a.options.file_server));
      if (!makes_)
        return nullptr;
      recorder_ = new FakeRecorder;
      recorder_->gone = &gone_;
      recorder_->begins = &begins_;
      recorder_->ends = &ends_;
      gone_ = false;
      begins_ = 0;
      ends_ = 0;
      return recorder_;
    });
    takeToast();
  }
  void TearDown() override {
    RecordingControl::setRecorderMaker(nullptr);
    rig_.context.withdraw<CoursewarePublishing>(&shelf_);
  }

  // Recording started and the recorder ready.
  void startRecording(RecordingControl& control) {
    control.button()->click();
    control.recordCallback(&control, record_msg_ready, nullptr);
  }

  testsupport::TempHome home_;
  ClassroomRig rig_{kTeacher, kTeacher};
  FakeShelf shelf_;
  std::vector<RecorderArguments> made_;
  QList<QByteArray> recordings_, credentials_, fileServers_;
  bool makes_ = true;
  FakeRecorder* recorder_ = nullptr;
  bool gone_ = false;
  int begins_ = 0;
  int ends_ = 0;
};

TEST_F(RecordingTest, TheRecorderGetsItsTenArgumentsAndTheClockCounts) {
  RecordingControl control(rig_.context);
  EXPECT_FALSE(control.bar()->isHidden());
  EXPECT_EQ(control.button()->text(), QStringLiteral("录制"));
  control.button()->click();
  ASSERT_EQ(made_.size(), 1u);
  const RecorderArguments& a = made_[0];
  EXPECT_EQ(a.roomId, ClassroomRig::kRoom);
  EXPECT_EQ(a.userId, kTeacher);
  EXPECT_EQ(a.mcuIp, QByteArray("192.168.1.9"));
  EXPECT_EQ(a.mcuPort, 27802);
  EXPECT_EQ(a.format, video_format_mp4);
  EXPECT_TRUE(a.contentOnly);
  EXPECT_EQ(a.videoServerHost, QByteArray("192.168.1.7"));
  EXPECT_EQ(a.videoServerPort, 27804);
  EXPECT_EQ(a.callback, &RecordingControl::recordCallback);
  EXPECT_EQ(a.context, &control);
  EXPECT_EQ(credentials_[0], QByteArray("1.10001.1001.1.99.abc"));
  EXPECT_EQ(fileServers_[0], QByteArray("192.168.1.8:27800"));
  EXPECT_EQ(control.button()->text(), QStringLiteral("停录"));
  // The clock runs from the recorder's ready.
  EXPECT_FALSE(control.findChild<QTimer*>(QStringLiteral("recordClock")));
  control.recordCallback(&control, record_msg_ready, nullptr);
  EXPECT_EQ(recorder_->begun, 1);
  auto* clock = control.findChild<QTimer*>(QStringLiteral("recordClock"));
  ASSERT_TRUE(clock);
  EXPECT_TRUE(clock->isActive());
  EXPECT_EQ(clock->interval(), 1000);
  EXPECT_EQ(control.clock()->text(), QStringLiteral("00:00:00"));
  for (int i = 0; i < 3725; ++i)
    control.slot_record_timeout();
  EXPECT_EQ(control.clock()->text(), QStringLiteral("01:02:05"));
}

TEST_F(RecordingTest, AMinuteIsNeededToPublishAndAPublishedRecordingReloadsTheList) {
  RecordingControl control(rig_.context);
  startRecording(control);
  for (int i = 0; i < 59; ++i)
    control.slot_record_timeout();
  control.button()->click();
  EXPECT_EQ(rig_.dialogs.noticed,
            QStringList{QStringLiteral("录像时长小于1分钟，无法发布该课件！")});
  EXPECT_EQ(shelf_.shown, 0);
  EXPECT_TRUE(gone_);
  EXPECT_FALSE(control.button()->isChecked());
  EXPECT_EQ(control.button()->text(), QStringLiteral("录制"));
  EXPECT_EQ(control.clock()->text(), QStringLiteral("00:00:00"));

  startRecording(control);
  for (int i = 0; i < 60; ++i)
    control.slot_record_timeout();
  FakeRecorder* second = recorder_;
  control.button()->click();
  EXPECT_EQ(ends_, 1);
  EXPECT_EQ(shelf_.shown, 1);
  EXPECT_EQ(shelf_.recorder, second);
  EXPECT_EQ(shelf_.reloaded, 1);
  EXPECT_TRUE(gone_);
  EXPECT_FALSE(control.recording());
}

TEST_F(RecordingTest, FailuresResetEverythingAndUploadResultsAreTold) {
  RecordingControl control(rig_.context);
  // The recorder cannot be made.
  makes_ = false;
  control.button()->click();
  EXPECT_EQ(takeToast(), QStringLiteral("启动录制失败！"));
  EXPECT_FALSE(control.button()->isChecked());
  makes_ = true;

  // A failure before the recorder was ready.
  control.button()->click();
  control.recordCallback(&control, record_msg_connect_failed, nullptr);
  EXPECT_TRUE(gone_);
  EXPECT_EQ(begins_, 0) << "never begun";
  EXPECT_EQ(rig_.dialogs.noticed.takeLast(), QStringLiteral("网络异常，请检查网络后重试！"));
  EXPECT_EQ(control.clock()->text(), QStringLiteral("00:00:00"));
  EXPECT_FALSE(control.button()->isChecked());
  EXPECT_EQ(control.button()->text(), QStringLiteral("录制"));
  EXPECT_FALSE(control.findChild<QTimer*>(QStringLiteral("recordClock")));

  // Upload results: null and non-zero are failures, zero is published. The result arrives
  // from the recorder's thread, its argument gone before the window's thread reads it.
  QSignalSpy updated(&control, &RecordingControl::signal_record_updated);
  control.__record_msg(record_msg_upload_done, nullptr);
  for (const int32_t result : {1, 0}) {
    std::thread([&control, result] {
      int32_t onTheStack = result;
      RecordingControl::recordCallback(&control, record_msg_upload_done, &onTheStack);
      onTheStack = -7;
    }).join();
    ASSERT_TRUE(testsupport::waitUntil([&] { return updated.size() == (result ? 2 : 3); }));
  }
  EXPECT_EQ(updated[0][0].toBool(), false);
  EXPECT_EQ(updated[1][0].toBool(), false);
  EXPECT_EQ(updated[2][0].toBool(), true);
  EXPECT_EQ(rig_.dialogs.noticed,
            (QStringList{QStringLiteral("课件上传失败！"), QStringLiteral("课件上传失败！")}));
}

TEST_F(RecordingTest, EndingTheClassWhileRecordingAsksToSaveItAndPublishes) {
  RecordingControl control(rig_.context);
  rig_.session.classStarted(kTeacher);
  startRecording(control);
  for (int i = 0; i < 90; ++i)
    control.slot_record_timeout();
  // Someone else of the teacher side ended it: the recording goes on, to be saved.
  rig_.session.classStopped();
  EXPECT_EQ(takeToast(), QStringLiteral("请先保存录像！"));
  EXPECT_TRUE(control.button()->isChecked());
  // The own stop: the recording stops and is offered for publishing.
  rig_.session.classStarted(kTeacher);
  control.classStopping();
  EXPECT_EQ(takeToast(), QStringLiteral("请保存录像！"));
  EXPECT_EQ(shelf_.shown, 1);
  EXPECT_FALSE(control.button()->isChecked());
  EXPECT_FALSE(control.recording());
  // Leaving while recording ends and frees the recorder.
  startRecording(control);
  control.leaving();
  EXPECT_TRUE(gone_);
  EXPECT_EQ(ends_, 1);
}

TEST_F(RecordingTest, ARecordingLeftUnpublishedIsOfferedOrRemoved) {
  // As the recorder leaves one: its folder with the record and the file.
  auto leave = [this](int seconds) {
    const QString folder = RecordingControl::recordingsFolder() + QStringLiteral("1001-10001-x");
    QDir().mkpath(folder);
    QFile meta(folder + QStringLiteral("/record.json"));
    meta.open(QIODevice::WriteOnly);
    meta.write(
        QJsonDocument(
            QJsonObject{{"room", 1001}, {"user", 10001}, {"seconds", seconds}, {"ended", true}})
            .toJson());
    meta.close();
    QFile file(folder + QStringLiteral("/class.mp4"));
    file.open(QIODevice::WriteOnly);
    file.write("mp4");
    return folder;
  };
  RecordingControl control(rig_.context);
  const QString declined = leave(120);
  rig_.dialogs.answer = false;
  control.offerUnpublished();
  ASSERT_EQ(rig_.dialogs.asked.size(), 1);
  EXPECT_FALSE(QDir(declined).exists());
  EXPECT_TRUE(made_.empty());

  const QString offered = leave(120);
  rig_.dialogs.answer = true;
  control.offerUnpublished();
  ASSERT_EQ(made_.size(), 1u);
  EXPECT_EQ(QString::fromLocal8Bit(recordings_[0]),
            QDir::toNativeSeparators(offered + QStringLiteral("/class.mp4")));
  EXPECT_EQ(shelf_.shown, 1);
  EXPECT_TRUE(gone_);
}

TEST_F(RecordingTest, PublishingChecksTheTextsTheNameAndHandsTheTagToTheRecorder) {
  FakeRecorder recorder;
  UploadCoursewareDlg dialog(rig_.context, &recorder);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("发布课件"));
  auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("uploadCoursewareName"));
  auto* price = dialog.findChild<QLineEdit*>(QStringLiteral("uploadCoursewarePrice"));
  auto* summary = dialog.findChild<QLineEdit*>(QStringLiteral("uploadCoursewareSummary"));
  auto* grade = dialog.findChild<QLineEdit*>(QStringLiteral("uploadCoursewareGrade"));
  auto* publish = dialog.findChild<QPushButton*>(QStringLiteral("btnPublish"));
  ASSERT_TRUE(name && price && summary && grade && publish);
  EXPECT_EQ(publish->text(), QStringLiteral("确认发布"));
  EXPECT_EQ(price->placeholderText(),
            QStringLiteral("默认为5星豆，输入0及以上的整数(0豆直接观看)"));
  // Refused before any request leaves.
  publish->click();
  EXPECT_EQ(takeToast(), QStringLiteral("请填写课件名称！"));
  name->setText(QString(21, QLatin1Char('a')));
  publish->click();
  EXPECT_EQ(takeToast(), QStringLiteral("课件名称过长！"));
  name->setText(QStringLiteral("整式,复习"));
  price->setText(QStringLiteral("-1"));
  publish->click();
  EXPECT_EQ(takeToast(), QStringLiteral("输入0及以上的整数(0豆直接观看)"));
  EXPECT_TRUE(publish->isEnabled());

  // The name looked up first: taken, or no answer, and nothing is uploaded.
  price->clear();
  summary->setText(QStringLiteral("加,减"));
  grade->setText(QStringLiteral("初二"));
  dialog.onFindByName(QJsonObject{{"code", 0}, {"body", QJsonObject{{"id", 3}}}});
  EXPECT_EQ(takeToast(), QStringLiteral("已存在同名课件！"));
  dialog.onFindByName(QJsonObject());
  EXPECT_EQ(takeToast(), QStringLiteral("网络异常，请检查网络后重试！"));
  EXPECT_TRUE(recorder.uploaded.isEmpty());
  // Free: the tag goes to the recorder, the ASCII commas of the texts full-width.
  publish->click();  // (the price left empty is the default 5)
  dialog.onFindByName(QJsonObject{{"code", 404}});
  EXPECT_EQ(QString::fromUtf8(recorder.uploaded),
            QStringLiteral("roomId=1001,globalId=10001,coursewareName=整式，复习,price=5,"
                           "description=加，减,grade=初二"));
  // A failed upload lets it be tried again; a published one is announced and accepted.
  dialog.slot_record_updated(false);
  EXPECT_TRUE(publish->isEnabled());
  dialog.slot_record_updated(true);
  EXPECT_EQ(rig_.dialogs.informed.takeLast(), QStringLiteral("上传课件成功！"));
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  ASSERT_FALSE(rig_.channel.sent.isEmpty());
  const QJsonObject notice = QJsonDocument::fromJson(rig_.channel.sent.last().text).object();
  EXPECT_EQ(notice.value("typeId").toString(), QStringLiteral("65"));
  EXPECT_EQ(notice.value("coursewareName").toString(), QStringLiteral("整式,复习"));
}

}  // namespace

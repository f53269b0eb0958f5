#include "RecordingControl.h"

#include <QDebug>
#include <QDialog>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "ClassroomContext.h"
#include "CoursewarePublishing.h"
#include "DataFolder.h"
#include "LoginInfo.h"
#include "RoomSession.h"

namespace {

RecorderMaker& maker() {
  static RecorderMaker made;
  return made;
}

// A recording must be this long to be published.
constexpr int kMinimumSeconds = 60;

// The upload's progress, on the recorder's thread: queued to the part.
void uploadProgress(void* context, unsigned long long held, unsigned long long total) {
  auto* self = static_cast<RecordingControl*>(context);
  emit self->signal_upload_progress(qint64(held), qint64(total));
}

}  // namespace

RecordingControl::RecordingControl(ClassroomContext& context, QObject* parent)
    : QObject(parent),
      context_(context),
      bar_(new QWidget),
      button_(new QPushButton(QStringLiteral("录制"), bar_)),
      clock_(new QLabel(QStringLiteral("00:00:00"), bar_)) {
  setObjectName(QStringLiteral("recordingControl"));
  bar_->setObjectName(QStringLiteral("recordBar"));
  button_->setObjectName(QStringLiteral("btnRecord"));
  button_->setCheckable(true);
  clock_->setObjectName(QStringLiteral("labelRecordTime"));
  auto* layout = new QHBoxLayout(bar_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(button_);
  layout->addWidget(clock_);
  connect(button_, &QPushButton::toggled, this, &RecordingControl::btnRecord_toggled);
  connect(this, &RecordingControl::_record_msg, this, &RecordingControl::__record_msg);
  // Recording is the teacher side's.
  auto showForRole = [this] { bar_->setVisible(context_.session().hasTeacherRights()); };
  connect(&context_.session(), &RoomSession::rolesChanged, bar_, showForRole);
  showForRole();
  // The class ended otherwise than by the own stop (someone else of the teacher side).
  connect(&context_.session(), &RoomSession::classStateChanged, this, [this](bool running) {
    if (!running && !stoppingOwnClass_ && button_->isChecked())
      context_.toast(QStringLiteral("请先保存录像！"));
  });
  const ClassroomEntry& entry = context_.entry();
  if (entry.ownUserId == entry.ownerId || entry.isAssistant)
    QTimer::singleShot(0, this, &RecordingControl::offerUnpublished);
}

RecordingControl::~RecordingControl() {
  stopClock();
  if (recorder_) {
    // What was recorded stays, to be offered at the next visit.
    recorder_->end_record();
    recorder_->destroy(1);
    recorder_ = nullptr;
  }
  if (!bar_->parent())
    delete bar_;
}

QString RecordingControl::recordingsFolder() {
  return DataFolder::path() + QStringLiteral("video/record/");
}

void RecordingControl::setRecorderMaker(RecorderMaker made) {
  maker() = std::move(made);
}

void RecordingControl::recordCallback(void* context, record_msg_t msg, void* arg) {
  auto* self = static_cast<RecordingControl*>(context);
  if (msg == record_msg_upload_done && arg) {
    self->uploadResult_ = *static_cast<int32_t*>(arg);
    arg = &self->uploadResult_;
  }
  emit self->_record_msg(int(msg), arg);
}

centra* RecordingControl::makeRecorder(const QByteArray& recording) {
  const ClassroomEntry& entry = context_.entry();
  credential_ = entry.credential.toLatin1();
  ticket_ = LoginInfo::current().ticket.toLatin1();
  fileServer_ =
      QStringLiteral("%1:%2").arg(entry.fileServer.host).arg(entry.fileServer.port).toLatin1();
  folder_ = QDir::toNativeSeparators(recordingsFolder()).toLocal8Bit();
  RecorderArguments a;
  a.roomId = entry.roomId;
  a.userId = entry.ownUserId;
  a.mcuIp = entry.mcuAddress.toLatin1();
  a.mcuPort = entry.mcuPort;
  a.format = video_format_mp4;
  a.contentOnly = entry.recordContentOnly;
  a.videoServerHost = entry.videoServer.host.toLatin1();
  a.videoServerPort =
      static_cast<unsigned short>(entry.videoServer.port > 0 ? entry.videoServer.port : 0);
  a.callback = &RecordingControl::recordCallback;
  a.context = this;
  a.options = centra_options{credential_.constData(),
                             ticket_.constData(),
                             fileServer_.constData(),
                             folder_.constData(),
                             recording.isEmpty() ? nullptr : recording.constData(),
                             &uploadProgress};
  if (maker())
    return maker()(a);
  return centra::create(a.roomId, a.userId, a.mcuIp.constData(), a.mcuPort, a.format, a.contentOnly,
                        a.videoServerHost.constData(), a.videoServerPort, a.callback, a.context,
                        a.options);
}

// ---- the button ----

void RecordingControl::btnRecord_toggled(bool checked) {
  if (checked)
    startRecording();
  else
    stopRecording();
}

void RecordingControl::startRecording() {
  recorder_ = makeRecorder(QByteArray());
  if (!recorder_) {
    context_.toast(QStringLiteral("启动录制失败！"));
    resetButton();
    return;
  }
  seconds_ = 0;
  button_->setText(QStringLiteral("停录"));
}

void RecordingControl::stopRecording() {
  stopClock();
  if (!recorder_)
    return;
  recorder_->end_record();
  clock_->setText(QStringLiteral("00:00:00"));
  resetButton();
  if (seconds_ < kMinimumSeconds)
    context_.dialogs().notice(QStringLiteral("录像时长小于1分钟，无法发布该课件！"));
  else
    publish();
  if (recorder_) {
    recorder_->destroy(1);
    recorder_ = nullptr;
  }
}

void RecordingControl::publish() {
  CoursewarePublishing* shelf = context_.find<CoursewarePublishing>();
  QWidget* window = context_.window();
  if (!shelf) {
    qWarning() << "no courseware list to publish the recording with";
    return;
  }
  std::unique_ptr<QDialog> dialog(shelf->publishingDialog(recorder_, window));
  if (!dialog)
    return;
  connect(this, SIGNAL(signal_record_updated(bool)), dialog.get(), SLOT(slot_record_updated(bool)));
  connect(this, SIGNAL(signal_upload_progress(qint64, qint64)), dialog.get(),
          SLOT(slot_upload_progress(qint64, qint64)));
  if (window)
    dialog->move(window->geometry().center() - dialog->rect().center());
  dialog->setModal(true);
  const int result = dialog->exec();
  // The window may have gone while the dialog ran.
  if (result == QDialog::Accepted)
    if (CoursewarePublishing* list = context_.find<CoursewarePublishing>())
      list->reloadCourseware();
}

void RecordingControl::resetButton() {
  const QSignalBlocker quiet(button_);
  button_->setChecked(false);
  button_->setText(QStringLiteral("录制"));
}

// ---- the recorder's notifications ----

void RecordingControl::__record_msg(int msg, void* arg) {
  switch (msg) {
    case record_msg_ready:
      if (!recorder_)
        return;
      recorder_->begin_record();
      stopClock();
      timer_ = new QTimer(this);
      timer_->setObjectName(QStringLiteral("recordClock"));
      connect(timer_, &QTimer::timeout, this, &RecordingControl::slot_record_timeout);
      timer_->start(1000);
      showClock();
      return;
    case record_msg_upload_done:
      if (!arg) {
        qDebug() << "arg == nullptr";
      } else if (*static_cast<int32_t*>(arg) != 0) {
        qDebug() << "ret != 0,*((int *)arg) = " << *static_cast<int32_t*>(arg);
      } else {
        qDebug() << "ret == 0";
        emit signal_record_updated(true);
        return;
      }
      emit signal_record_updated(false);
      context_.dialogs().notice(QStringLiteral("课件上传失败！"));
      return;
    default:
      stopClock();
      if (recorder_) {
        recorder_->end_record();
        recorder_->destroy(1);
        recorder_ = nullptr;
      }
      context_.dialogs().notice(QStringLiteral("网络异常，请检查网络后重试！"));
      clock_->setText(QStringLiteral("00:00:00"));
      resetButton();
      return;
  }
}

// ---- the clock ----

void RecordingControl::slot_record_timeout() {
  ++seconds_;
  showClock();
}

void RecordingControl::showClock() {
  clock_->setText(QStringLiteral("%1:%2:%3")
                      .arg(seconds_ / 3600, 2, 10, QLatin1Char('0'))
                      .arg(seconds_ % 3600 / 60, 2, 10, QLatin1Char('0'))
                      .arg(seconds_ % 60, 2, 10, QLatin1Char('0')));
}

void RecordingControl::stopClock() {
  if (!timer_)
    return;
  timer_->disconnect(this);
  timer_->stop();
  delete timer_;
  timer_ = nullptr;
}

// ---- the class and the member ----

void RecordingControl::classStopping() {
  if (!button_->isChecked())
    return;
  stoppingOwnClass_ = true;
  context_.toast(QStringLiteral("请保存录像！"));
  stopRecording();
  stoppingOwnClass_ = false;
}

void RecordingControl::leaving() {
  stopClock();
  if (!recorder_)
    return;
  // Kept unpublished: offered at the next visit.
  recorder_->end_record();
  recorder_->destroy(1);
  recorder_ = nullptr;
  resetButton();
}

void RecordingControl::offerUnpublished() {
  if (recorder_)
    return;
  const QByteArray folder = QDir::toNativeSeparators(recordingsFolder()).toLocal8Bit();
  char path[4096];
  const int seconds = centra::find_unpublished(folder.constData(), context_.roomId(),
                                               context_.ownUserId(), path, sizeof path);
  if (seconds < 0)
    return;
  if (seconds < kMinimumSeconds ||
      !context_.dialogs().confirm(
          QStringLiteral("上次的录像（%1分钟）还没有发布，现在发布吗？取消将删除该录像。")
              .arg(seconds / 60))) {
    centra::discard_unpublished(path);
    return;
  }
  recorder_ = makeRecorder(QByteArray(path));
  if (!recorder_) {
    context_.toast(QStringLiteral("启动录制失败！"));
    return;
  }
  seconds_ = seconds;
  publish();
  if (recorder_) {
    recorder_->destroy(1);
    recorder_ = nullptr;
  }
}

#include "Classroom.h"

#include <QCloseEvent>
#include <QDebug>
#include <QTimer>

#include "CheckSelfDevice.h"
#include "HeartbeatInRoom.h"
#include "LoginInfo.h"
#include "QNMessageBox.h"
#include "RoomChannelClient.h"
#include "RoomMessenger.h"
#include "RoomPeerPath.h"
#include "VideoFrameQueue.h"
#include "WndDragFilter.h"

namespace {
QPointer<Classroom> currentClassroom;
}  // namespace

Classroom::Classroom(const ClassroomEntry& entry, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      entry_(entry),
      context_(RoomContext::reset(entry.roomId)) {
  qRegisterMetaType<MediaUser>("MediaUser");
  qRegisterMetaType<MediaUserList>("MediaUserList");
  qRegisterMetaType<QVector<quint32>>("QVector<quint32>");
  currentClassroom = this;
  context_.isOwner = entry_.ownerId != 0 && entry_.ownerId == entry_.ownUserId;
  context_.isAssistant = entry_.isAssistant;

  setObjectName(QStringLiteral("Classroom"));
  setAttribute(Qt::WA_StyledBackground);
  // The application-sharing list leaves this window out by its title.
  setWindowTitle(QStringLiteral("互动教室"));
  installEventFilter(new WndDragFilter(this));

  frames_ = std::make_unique<VideoFrameQueue>([this](uint8_t* pixels) {
    if (media_)
      media_->media_ctrl(media_cmd_free_frame, pixels);
  });
  messenger_ = new RoomMessenger(entry_.ownUserId, this);
  connect(messenger_, &RoomMessenger::signal_ChatMsgArrived, this, &Classroom::slot_ChatMsgArrived);

  buildWindow();
  connectLibrarySignals();
  QTimer::singleShot(0, this, &Classroom::initUserList);
}

Classroom::~Classroom() {
  releaseEverything();
  qDeleteAll(pendingEnters_);
  if (currentClassroom == this)
    currentClassroom = nullptr;
}

Classroom* Classroom::current() {
  return currentClassroom.data();
}

void Classroom::closeEvent(QCloseEvent* event) {
  if (!LoginInfo::current().loggedInElsewhere && !leaving_) {
    QNMessageBox box(this);
    box.setMessage(QStringLiteral("您确定要退出教室吗？"), QStringLiteral("确定"),
                   QStringLiteral("取消"));
    if (box.exec() != QDialog::Accepted) {
      event->ignore();
      return;
    }
  }
  leaving_ = true;
  const qint64 ownId = entry_.ownUserId;
  if (context_.classInProgress && context_.classStarterId != ownId) {
    if (context_.screenSharerId == ownId || context_.pictureSharerId == ownId) {
      if (sharing_)
        sharing_->endOwnShare();
    }
    if (context_.annotatingId == ownId && annotation_)
      annotation_->endOwnAnnotation();
  }
  if (mcuConnected_ && context_.classInProgress && context_.classStarterId == ownId && media_)
    media_->stop_class(entry_.ownUserId);
  if (recording_ && recording_->isRecording())
    recording_->stopRecording();
  if (phoneLink_)
    phoneLink_->closeLink();
  releaseEverything();
  emit signal_exit_classroom();
  if (currentClassroom == this)
    currentClassroom = nullptr;
  event->accept();
  deleteLater();
}

void Classroom::releaseEverything() {
  emit _stopTimerHeartBeatInRoom();
  emit _stopTimerHeartBeatTeaching();
  if (supplementTimer_)
    supplementTimer_->stop();
  // The device check asks the library; it must be done before the library goes.
  if (deviceCheck_)
    deviceCheck_->wait();
  // Frames go back to the library before it goes: first stop the delivery.
  if (media_)
    media_->media_ctrl(media_cmd_video_off, nullptr);
  if (frames_)
    frames_->clear();
  messenger_->setPeerPath(nullptr);
  messenger_->setMediaConnected(false);
  if (media_) {
    Libpavo* media = media_;
    Libpavo::destory(media);
    media_ = nullptr;
  }
  peerPath_.reset();
  messenger_->setRoomChannel(nullptr);
  if (channel_)
    channel_->disconnectClient();
  mcuConnected_ = false;
}

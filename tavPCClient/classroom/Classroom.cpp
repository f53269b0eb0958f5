#include "Classroom.h"

#include <QCloseEvent>
#include <QTimer>

#include "CheckSelfDevice.h"
#include "ClassControl.h"
#include "ClassroomComponent.h"
#include "ClassroomContext.h"
#include "HeartbeatInRoom.h"
#include "LoginInfo.h"
#include "MediaEventBridge.h"
#include "QNMessageBox.h"
#include "RoomChannelClient.h"
#include "RoomCredentialRenewal.h"
#include "RoomDispatch.h"
#include "RoomMessenger.h"
#include "RoomPeerPath.h"
#include "RoomSession.h"
#include "Whiteboard.h"

Classroom::Classroom(const ClassroomEntry& entry, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      entry_(entry),
      room_(RoomContext::reset(entry.roomId)),
      session_(new RoomSession(entry.ownUserId, entry.ownerId, room_, this)),
      messenger_(new RoomMessenger(entry.ownUserId, this)),
      dispatch_(new RoomDispatch(this)),
      bridge_(new MediaEventBridge(this)),
      context_(new ClassroomContext(entry_, *session_, *messenger_, *dispatch_, this)) {
  room_.isOwner = entry_.ownerId != 0 && entry_.ownerId == entry_.ownUserId;
  room_.isAssistant = entry_.isAssistant;
  messenger_->setObjectName(QStringLiteral("roomMessenger"));
  context_->setWindow(this);

  setObjectName(QStringLiteral("Classroom"));
  setAttribute(Qt::WA_StyledBackground);
  // The application-sharing list leaves this window out by its title.
  setWindowTitle(QStringLiteral("互动教室"));

  connect(messenger_, &RoomMessenger::signal_ChatMsgArrived, dispatch_, &RoomDispatch::dispatch);
  connect(messenger_, &RoomMessenger::signal_AnnoMsgArrived, dispatch_, &RoomDispatch::dispatch);
  dispatch_->handle({MSG_ROOM_TYPE}, this,
                    [this](const QJsonObject& msg) { onRoomTypeMessage(msg); });

  renewal_ = new RoomCredentialRenewal(entry_.roomId, entry_.ownUserId, entry_.authCode, this);
  // The next connection to the media server goes where the service says the room is now.
  connect(renewal_, &RoomCredentialRenewal::mediaServerNamed, this,
          [this](QString address, quint16 port) {
            entry_.mcuAddress = address;
            entry_.mcuPort = port;
          });
  connect(renewal_, &RoomCredentialRenewal::renewed, this, &Classroom::onCredentialRenewed);
  connect(renewal_, &RoomCredentialRenewal::unreachable, this, &Classroom::onRenewalUnreachable);
  connect(renewal_, &RoomCredentialRenewal::refused, this, [this](QString why, bool removed) {
    leaveBecause(removed || why.isEmpty() ? (removed ? QStringLiteral("您已被老师请出教室！")
                                                     : QStringLiteral("无法进入教室，请重新进入！"))
                                          : why,
                 false);
  });
  mediaRetry_ = new QTimer(this);
  mediaRetry_->setObjectName(QStringLiteral("mediaRetryTimer"));
  mediaRetry_->setSingleShot(true);
  connect(mediaRetry_, &QTimer::timeout, renewal_, &RoomCredentialRenewal::renew);

  buildWindow();
  connectMediaEvents();
  QTimer::singleShot(0, this, &Classroom::initUserList);
}

Classroom::~Classroom() {
  releaseEverything();
}

bool Classroom::mcuConnected() const {
  return context_->mcuConnected();
}

void Classroom::leaveWithoutAsking() {
  if (leaving_)
    return;
  leaving_ = true;
  close();
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
  // What is the member's own ends while the library is still there.
  for (ClassroomComponent* component : components_)
    component->leaving();
  const quint32 own = entry_.ownUserId;
  if (media_ && context_->mcuConnected() && room_.classInProgress && session_->isClassStarter(own))
    media_->stop_class(own);
  releaseEverything();
  emit signal_exit_classroom();
  event->accept();
  deleteLater();
}

void Classroom::releaseEverything() {
  emit _stopTimerHeartBeatInRoom();
  if (classControl_)
    emit classControl_->_stopTimerHeartBeatTeaching();
  // The device check asks the library; it must be done before the library goes.
  if (deviceCheck_)
    deviceCheck_->wait();
  if (mediaRetry_)
    mediaRetry_->stop();
  dropMedia();
  // Nothing asks for the drawing layer any more.
  bridge_->setMarkLayerSource(nullptr);
  messenger_->setRoomChannel(nullptr);
  if (channel_)
    channel_->disconnectClient();
}

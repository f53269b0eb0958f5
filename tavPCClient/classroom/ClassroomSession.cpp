// The classroom session: start-up in its order, the media events routed to
// the parts, the presence reports, lost connections, room type changes.
#include <QApplication>
#include <QDebug>
#include <QJsonArray>
#include <QPixmap>
#include <QTimer>

#include "AnnotationControl.h"
#include "CheckSelfDevice.h"
#include "ClassControl.h"
#include "Classroom.h"
#include "ClassroomContext.h"
#include "FormBody.h"
#include "HeartbeatInRoom.h"
#include "LocalConfig.h"
#include "LoginInfo.h"
#include "MediaControl.h"
#include "MediaEventBridge.h"
#include "MemberRoster.h"
#include "NetworkBox.h"
#include "Prompt.h"
#include "QNMessageBox.h"
#include "RoomChannelClient.h"
#include "RoomCredentialRenewal.h"
#include "RoomMessage.h"
#include "RoomMessenger.h"
#include "RoomPeerPath.h"
#include "RoomSession.h"
#include "ServiceApi.h"
#include "SharedArea.h"
#include "TeachingTool.h"
#include "VideoPresenter.h"
#include "Whiteboard.h"

namespace {

bool answerFailed(const QJsonObject& answer) {
  const QJsonValue code = answer.value(QLatin1String("code"));
  return !code.isUndefined() && !code.isNull() && code.toVariant().toInt() != 0;
}

}  // namespace

void Classroom::connectMediaEvents() {
  const auto q = Qt::QueuedConnection;
  MediaEventBridge* b = bridge_;
  connect(b, &MediaEventBridge::signal_new_media_coming, session_, &RoomSession::mediaOpened, q);
  connect(b, &MediaEventBridge::signal_close_media, session_, &RoomSession::mediaClosed, q);
  connect(b, &MediaEventBridge::signal_existing_media, session_, &RoomSession::setExistingMedia, q);
  connect(b, &MediaEventBridge::signal_user_enter_room, roster_,
          &MemberRoster::slot_user_enter_room, q);
  connect(b, &MediaEventBridge::signal_user_leave_from_room, roster_,
          &MemberRoster::slot_user_leave_from_room, q);
  connect(b, &MediaEventBridge::signal_get_user_list, roster_, &MemberRoster::slot_get_user_list,
          q);
  connect(b, &MediaEventBridge::signal_videoData_arrived, videoPresenter_,
          &VideoPresenter::slot_videoData_arrived, q);
  connect(b, &MediaEventBridge::signal_camera_timeout, mediaControl_,
          &MediaControl::slot_camera_timeout, q);
  connect(b, &MediaEventBridge::signal_connect2MCU_state, this, &Classroom::slot_connect2MCU_state,
          q);
  connect(b, &MediaEventBridge::signal_disconnect_from_mcu, this,
          &Classroom::slot_disconnect_from_mcu, q);
  connect(b, &MediaEventBridge::_ss_start_class, classControl_, &ClassControl::slot_ss_start_class,
          q);
  connect(b, &MediaEventBridge::_start_class_ack, classControl_,
          &ClassControl::slot_start_class_ack, q);
  connect(b, &MediaEventBridge::_ss_stop_class, classControl_, &ClassControl::slot_ss_stop_class,
          q);
  connect(b, &MediaEventBridge::_get_class_state_ack, classControl_,
          &ClassControl::slot_get_class_state_ack, q);
  connect(b, &MediaEventBridge::_get_classing_user_ack, classControl_,
          &ClassControl::__get_classing_user_ack, q);
  whiteboard_->annotation()->listenTo(*bridge_);
  sharedArea_->listenTo(*bridge_);
  teachingTool_->listenTo(*bridge_);
  const auto peer = qOverload<quint32, const QByteArray&>(&RoomMessenger::receivePeerMessage);
  connect(b, &MediaEventBridge::_p2p_msg, messenger_, peer, q);
  connect(b, &MediaEventBridge::_p2all_msg, messenger_, peer, q);
}

// Start-up: the member list first, then the media library.
void Classroom::initUserList() {
  context_->service().post(ServiceApi::kFindRoomOnlineUser,
                           FormBody(ServiceApi::kFindRoomOnlineUser.body).arg(entry_.roomId), this,
                           &Classroom::onGetUserList);
}

void Classroom::onGetUserList(QJsonObject answer) {
  if (answer.isEmpty()) {
    if (!leaving_)
      showNetworkWeakAndClose();
    return;
  }
  if (!answerFailed(answer))
    session_->loadMemberList(answer.value(QLatin1String("onlineUser")).toArray());
  QTimer::singleShot(0, this, &Classroom::initMedia);
}

void Classroom::initMedia() {
  if (leaving_ || media_)
    return;
  createMedia();
  if (!media_)
    qWarning() << "Classroom::initMedia: the media library did not start";

  createRoomChannel();
  fireStartRequests();

  heartbeat_ = new HeartbeatInRoom(entry_.ownUserId, entry_.roomId, entry_.authCode, this);
  presenceTimer_ = new QTimer(this);
  presenceTimer_->setObjectName(QStringLiteral("presenceTimer"));
  connect(presenceTimer_, &QTimer::timeout, heartbeat_, &HeartbeatInRoom::postSelfInRoom);
  connect(this, &Classroom::_stopTimerHeartBeatInRoom, presenceTimer_, &QTimer::stop);
  classControl_->setHeartbeat(heartbeat_);
  presenceTimer_->start(kHeartbeatMs);

  auto* check = new CheckSelfDevice(media_);
  deviceCheck_ = check;
  connect(check, &CheckSelfDevice::VideoDeviceStatus, this, &Classroom::initSelfVideoDeviceStatus);
  connect(check, &CheckSelfDevice::AudioDeviceStatus, this, &Classroom::initSelfAudioDeviceStatus);
  check->start(QThread::InheritPriority);
}

void Classroom::createMedia() {
  const QByteArray mcu = entry_.mcuAddress.toLatin1();
  // The MCU opens the room and lets the login in only for the service's room credential.
  const QByteArray credential = entry_.credential.toLatin1();
  media_ = Libpavo::create(
      bridge_, entry_.ownUserId, entry_.roomId, mcu.constData(), entry_.mcuPort,
      static_cast<user_role_t>(RoomContext::mediaRole(room_.ownRole)), credential.constData());
  if (!media_)
    return;
  bridge_->setLibrary(media_);
  context_->setMedia(media_);
  // Pictures in the layout that is painted as it is: one conversion per frame, in the library.
  const bool painted = media_->media_ctrl(media_cmd_frame_format,
                                          reinterpret_cast<void*>(intptr_t{pavo_frame_rgb32})) == 0;
  videoPresenter_->setBytesPerPixel(painted ? 4 : 3);
  applySavedDevices();
  peerPath_ = std::make_unique<RoomPeerPathOver<Libpavo>>(media_);
  messenger_->setPeerPath(peerPath_.get());
}

void Classroom::dropMedia() {
  // The device check asks the library; it must be done before the library goes.
  if (deviceCheck_)
    deviceCheck_->wait();
  // Frames go back to the library before it goes: first stop the delivery.
  if (media_)
    media_->media_ctrl(media_cmd_video_off, nullptr);
  bridge_->frames().clear();
  messenger_->setPeerPath(nullptr);
  context_->setMcuConnected(false);
  if (media_) {
    context_->setMedia(nullptr);
    Libpavo* media = media_;
    media_ = nullptr;
    Libpavo::destory(media);  // no callback follows once it returns
    bridge_->setLibrary(nullptr);
  }
  peerPath_.reset();
}

void Classroom::applySavedDevices() {
  LocalConfig* config = LocalConfig::instance();
  auto count = [this](int kind) {
    return media_->media_ctrl(media_cmd_device_count,
                              reinterpret_cast<void*>(static_cast<intptr_t>(kind)));
  };
  const int camera = config->deviceIndex(QStringLiteral("conf/cmbCamera"), count(1));
  if (camera > 0) {
    device_select_t select{media_kind_video, static_cast<uint16_t>(camera)};
    media_->media_ctrl(media_cmd_select_device, &select);
  }
  const int microphone = config->deviceIndex(QStringLiteral("conf/microphoneIndex"), count(2));
  if (microphone > 0) {
    device_select_t select{media_kind_audio, static_cast<uint16_t>(microphone)};
    media_->media_ctrl(media_cmd_select_device, &select);
  }
  int speaker = config->deviceIndex(QStringLiteral("conf/speakerIndex"),
                                    media_->media_ctrl(media_cmd_speaker_count, nullptr));
  if (speaker > 0)
    media_->media_ctrl(media_cmd_select_speaker, &speaker);
}

void Classroom::createRoomChannel() {
  if (!channel_) {
    channel_ = new RoomChannelClient(entry_.ownUserId, entry_.roomId, entry_.credential, this);
    channel_->setObjectName(QStringLiteral("roomChannel"));
    connect(channel_, &RoomChannelClient::messageArrived, messenger_,
            qOverload<const QByteArray&>(&RoomMessenger::receiveRoomChannelMessage),
            Qt::QueuedConnection);
    connect(channel_, &RoomChannelClient::__connect2msgs_state, this,
            &Classroom::__connect2msgs_state, Qt::QueuedConnection);
    connect(channel_, &RoomChannelClient::__disconect_from_msg, this,
            &Classroom::__disconect_from_msg, Qt::QueuedConnection);
  }
  messenger_->setRoomChannel(nullptr);
  if (entry_.chatServer.port > 0 && entry_.chatServer.port <= 65535)
    channel_->connectTo(entry_.chatServer.host, static_cast<quint16>(entry_.chatServer.port));
  else
    qWarning() << "Classroom: no message server address for the room channel";
  messenger_->setRoomChannel(channel_);
}

void Classroom::fireStartRequests() {
  const quint32 own = entry_.ownUserId;
  const quint32 room = entry_.roomId;
  auto keep = [this](const ServiceEndpoint& endpoint, const QString& body) {
    const QString path = QString::fromLatin1(endpoint.path);
    context_->service().post(endpoint, body, context_, [this, path](QJsonObject answer) {
      context_->keepStartAnswer(path, answer);
    });
  };
  keep(ServiceApi::kGiftFindAll, QString());
  keep(ServiceApi::kMedalFindAll, QString());
  keep(ServiceApi::kFindCounterByRoomId, FormBody(ServiceApi::kFindCounterByRoomId.body).arg(room));
  keep(ServiceApi::kGetBulletinInfoPage, QString());
  keep(ServiceApi::kFindNotificationInfoPage,
       FormBody(ServiceApi::kFindNotificationInfoPage.body).arg(own).arg(1).arg(1));
  keep(ServiceApi::kSelectRoomAssociatedByIds,
       FormBody(ServiceApi::kSelectRoomAssociatedByIds.body).arg(room).arg(own));
  keep(ServiceApi::kGetRechargeInfo, FormBody(ServiceApi::kGetRechargeInfo.body).arg(own));
  keep(ServiceApi::kGetSharingInfo, FormBody(ServiceApi::kGetSharingInfo.body).arg(room));
  const QString avatar = LoginInfo::current().avatarPath;
  if (!avatar.isEmpty()) {
    context_->service().fetchPicture(avatar, context_,
                                     [this](QPixmap picture) { context_->setOwnAvatar(picture); });
  }
}

// Connections.
void Classroom::slot_connect2MCU_state(int state) {
  if (state != 1 || !media_)
    return;  // a failed attempt is followed by the loss of the connection
  context_->setMcuConnected(true);
  if (reconnectingMedia_) {
    reconnectingMedia_ = false;
    mediaAttempts_ = 0;
    mediaLostClock_.invalidate();
    classControl_->mediaReconnected(reopenKinds_);
    reopenKinds_ = 0;
    qInfo() << "Classroom: the media server is back";
    context_->toast(QStringLiteral("已重新连接教室"));
  }
  // Whether a class runs is asked at once, so a member entering one sees it.
  media_->get_class_state();
}

void Classroom::slot_disconnect_from_mcu() {
  context_->setMcuConnected(false);
  if (LoginInfo::current().loggedInElsewhere || leaving_)
    return;
  // Told again while a new connection is on its way: nothing more to do.
  if (!media_ && reconnectingMedia_ && (mediaRetry_->isActive() || renewal_->busy()))
    return;
  // The server is gone with everything it carried; the class goes on here while
  // a new connection is made, and what was the member's own opens again then.
  dropMedia();
  reopenKinds_ |= session_->mediaLost();
  if (!reconnectingMedia_) {
    reconnectingMedia_ = true;
    mediaLostClock_.start();
    qInfo() << "Classroom: the media server is lost, connecting again";
    context_->toast(QStringLiteral("与教室的连接已断开，正在重新连接…"));
  }
  scheduleMediaReconnect();
}

void Classroom::scheduleMediaReconnect() {
  if (leaving_)
    return;
  if (mediaLostClock_.isValid() && mediaLostClock_.elapsed() > kMediaGiveUpMs) {
    showNetworkWeakAndClose();
    return;
  }
  // A removal ends the media server's session too; its own word (the room
  // message, or the service refusing the room) comes within the first pause.
  const int delay = qMin(kReasonGraceMs << qMin(mediaAttempts_, 4), kMediaRetryMaxMs);
  ++mediaAttempts_;
  mediaRetry_->start(delay);
}

void Classroom::onCredentialRenewed(const QString& credential, const QString& chatServer) {
  if (leaving_)
    return;
  entry_.credential = credential;
  // The room's message server may be another node now (the old one died).
  const ServerAddress server = ServerAddress::parse(chatServer);
  if (!server.host.isEmpty() && server.port > 0 && server.port <= 65535)
    entry_.chatServer = server;
  if (channel_)
    channel_->setCredential(credential);
  if (reconnectingMedia_ && !media_ && !mediaRetry_->isActive()) {
    createMedia();
    if (!media_)
      scheduleMediaReconnect();
  }
  if (channelAwaitsCredential_) {
    channelAwaitsCredential_ = false;
    channelCredentialFresh_ = true;
    createRoomChannel();
  }
}

void Classroom::onRenewalUnreachable() {
  if (leaving_)
    return;
  if (reconnectingMedia_ && !media_ && !mediaRetry_->isActive())
    scheduleMediaReconnect();
  if (channelAwaitsCredential_) {
    // The service is away too: the channel tries its old server and credential
    // again meanwhile, after a pause (the next failure asks the service again).
    channelAwaitsCredential_ = false;
    QTimer::singleShot(1000, this, [this] {
      if (!leaving_ && channel_ && !channelAwaitsCredential_)
        createRoomChannel();
    });
  }
}

void Classroom::__connect2msgs_state(int state) {
  const bool wasUp = context_->roomChannelUp() || roomChannelWasUp_;
  context_->setRoomChannelUp(state == 1);
  if (state == 1) {
    roomChannelWasUp_ = true;
    channelCredentialFresh_ = false;
  }
  if (state == velmsg::connect_failed_rejected) {
    // The message server does not take this member's credential. A credential
    // the service has just renewed that is refused too cannot be helped by
    // trying again; otherwise the service is asked, which also says when the
    // member was removed.
    if (channelCredentialFresh_) {
      leaveBecause(wasUp ? QStringLiteral("您已被老师请出教室！")
                         : QStringLiteral("无法进入教室，请重新进入！"),
                   false);
      return;
    }
    if (channel_)
      channel_->disconnectClient();
    channelAwaitsCredential_ = true;
    renewal_->renew();
    return;
  }
  if (state != 1)
    __disconect_from_msg();  // a failed attempt is retried the same way as a drop
}

void Classroom::__disconect_from_msg() {
  context_->setRoomChannelUp(false);
  if (leaving_ || !channel_ || channelAwaitsCredential_)
    return;
  // A server that keeps failing may be gone for good: every second attempt
  // asks the service, which names a live message server with the credential.
  if (channel_->connectCount() > 1 && channel_->connectCount() % 2 == 0) {
    channelAwaitsCredential_ = true;
    renewal_->renew();
    return;
  }
  // Give the server a moment when it refuses outright, so a dead server is not hammered.
  QTimer::singleShot(channel_->connectCount() > 1 ? 1000 : 0, this, [this] {
    if (!leaving_ && channel_ && !channelAwaitsCredential_)
      createRoomChannel();
  });
}

void Classroom::slot_RoomTypeChanged(int roomType) {
  QJsonObject msg = roommsg::newMessage(MSG_ROOM_TYPE);
  msg.insert(QStringLiteral("roomType"), QString::number(roomType));
  messenger_->sendRoomMsg(msg, QString::fromLatin1(TARGET_ALL));
}

void Classroom::onRoomTypeMessage(const QJsonObject& msg) {
  if (leaving_)
    return;
  const int roomType = msg.value(QLatin1String("roomType")).toVariant().toInt();
  bool mustLeave = false;
  if (roomType == 2) {
    mustLeave = !room_.isAssistant && !room_.isOwner;
  } else if (roomType == 1) {
    const RoomMember* own = session_->member(entry_.ownUserId);
    mustLeave = own && own->roleCode == RoomContext::kAuditor;
  }
  if (!mustLeave)
    return;
  leaving_ = true;
  close();
}

void Classroom::initSelfVideoDeviceStatus(bool present) {
  session_->setOwnDevices(RoomSession::kVideo, present);
}

void Classroom::initSelfAudioDeviceStatus(bool present) {
  session_->setOwnDevices(RoomSession::kAudio, present);
}

void Classroom::leaveBecause(const QString& why, bool asBox) {
  if (leaving_)
    return;
  leaving_ = true;
  close();
  // Said where the member goes back to (the lobby, shown again by now), after
  // this window went.
  QWidget* over = returnWindow_ && returnWindow_->isVisible() ? returnWindow_.data() : nullptr;
  if (asBox) {
    auto* box = new QNMessageBox(over);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("leaveReasonBox"));
    box->setMessage(why, QStringLiteral("确定"), QString());
    box->show();
  } else {
    Prompt::instance()->showMessage(over, why);
  }
}

void Classroom::showNetworkWeakAndClose() {
  if (networkBoxShown_)
    return;
  networkBoxShown_ = true;
  leaving_ = true;
  close();
  NetworkBox::show();
}

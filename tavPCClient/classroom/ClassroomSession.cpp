// The classroom session: start-up, presence reports, the class itself, members
// coming and going, lost connections.
#include <QComboBox>
#include <QDebug>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include "CheckSelfDevice.h"
#include "Classroom.h"
#include "FormBody.h"
#include "HeartbeatInRoom.h"
#include "HttpRequest.h"
#include "LocalConfig.h"
#include "LoginInfo.h"
#include "MemberListWidget.h"
#include "PlayWnd.h"
#include "QNMessageBox.h"
#include "RoomChannelClient.h"
#include "RoomMessage.h"
#include "RoomMessenger.h"
#include "RoomPeerPath.h"
#include "ServiceApi.h"
#include "VideoGroup.h"

namespace {

QString networkWeakText() {
  return QStringLiteral("当前网络不给力,请检查网络后重试！");
}

bool answerFailed(const QJsonObject& answer) {
  const QJsonValue code = answer.value(QLatin1String("code"));
  return !code.isUndefined() && !code.isNull() && code.toVariant().toInt() != 0;
}

template <typename Receiver, typename Slot>
void post(const ServiceEndpoint& endpoint, const QString& body, Receiver* receiver, Slot slot) {
  auto* request = new HttpRequest;
  QObject::connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed), receiver, slot);
  request->request(HttpRequest::serviceUrl(endpoint.path), body, HttpRequest::kJson);
}

}  // namespace

void Classroom::connectLibrarySignals() {
  const auto q = Qt::QueuedConnection;
  connect(this, &Classroom::signal_new_media_coming, this, &Classroom::slot_new_media_coming, q);
  connect(this, &Classroom::signal_close_media, this, &Classroom::slot_close_media, q);
  connect(this, &Classroom::signal_user_enter_room, this, &Classroom::slot_user_enter_room, q);
  connect(this, &Classroom::signal_user_leave_from_room, this,
          &Classroom::slot_user_leave_from_room, q);
  connect(this, &Classroom::signal_disconnect_from_mcu, this, &Classroom::slot_disconnect_from_mcu,
          q);
  connect(this, &Classroom::signal_get_user_list, this, &Classroom::slot_get_user_list, q);
  connect(this, &Classroom::signal_connect2MCU_state, this, &Classroom::slot_connect2MCU_state, q);
  connect(this, &Classroom::signal_videoData_arrived, this, &Classroom::slot_videoData_arrived, q);
  connect(this, &Classroom::signal_existing_media, this, &Classroom::slot_existing_media, q);
  connect(this, &Classroom::signal_camera_timeout, this, &Classroom::slot_camera_timeout, q);
  connect(this, &Classroom::signal_open_user_media_state, this,
          &Classroom::slot_open_user_media_state, q);
  connect(this, &Classroom::_ss_start_class, this, &Classroom::slot_ss_start_class, q);
  connect(this, &Classroom::_start_class_ack, this, &Classroom::slot_start_class_ack, q);
  connect(this, &Classroom::_ss_stop_class, this, &Classroom::slot_ss_stop_class, q);
  connect(this, &Classroom::_get_classing_user_ack, this, &Classroom::__get_classing_user_ack, q);
  connect(
      this, &Classroom::_get_class_state_ack, this,
      [this](int state) {
        if (state != 1)
          return;
        if (!context_.classInProgress) {
          context_.classInProgress = true;
          showBlankWhiteboard();
          replayExistingMedia();
        }
        refreshClassButtons();
        if (media_)
          media_->get_classing_user();
      },
      q);
  connect(this, &Classroom::_p2p_msg, this, &Classroom::slot_peer_message, q);
  connect(this, &Classroom::_p2all_msg, this, &Classroom::slot_peer_message, q);
}

// Start-up: the member list first, then the media library.
void Classroom::initUserList() {
  post(ServiceApi::kFindRoomOnlineUser,
       FormBody(ServiceApi::kFindRoomOnlineUser.body).arg(entry_.roomId), this,
       &Classroom::onGetUserList);
}

void Classroom::onGetUserList(QJsonObject answer) {
  if (answer.isEmpty()) {
    if (!leaving_)
      showNetworkWeakAndClose();
    return;
  }
  if (!answerFailed(answer)) {
    const QJsonArray online = answer.value(QLatin1String("onlineUser")).toArray();
    for (const QJsonValue& value : online) {
      if (!value.isObject())
        continue;
      if (std::optional<RoomMember> member = RoomMember::fromJson(value.toObject()))
        addMember(*member);
    }
  }
  const auto own = members_.constFind(entry_.ownUserId);
  if (own != members_.constEnd()) {
    context_.ownRole = own->roleCode;
    if (own->isAssistant)
      context_.isAssistant = true;
  }
  if (context_.ownRole == RoomContext::kAuditor)
    chatEdit_->setToolTip(QStringLiteral("没购买者不能聊天"));
  if (own != members_.constEnd() && own->muted) {
    chatMutedLabel_->setText(QStringLiteral("您已被老师禁言"));
    chatMutedLabel_->show();
    chatEdit_->setEnabled(false);
    sendButton_->setEnabled(false);
  }
  refreshRoleControls();
  QTimer::singleShot(0, this, &Classroom::initMedia);
}

void Classroom::initMedia() {
  if (leaving_ || media_)
    return;
  const QByteArray mcu = entry_.mcuAddress.toLatin1();
  media_ = Libpavo::create(this, entry_.ownUserId, entry_.roomId, mcu.constData(), entry_.mcuPort,
                           static_cast<user_role_t>(RoomContext::mediaRole(context_.ownRole)));
  if (!media_)
    qWarning() << "Classroom::initMedia: the media library did not start";
  else
    applySavedDevices();
  if (media_) {
    peerPath_ = std::make_unique<RoomPeerPathOver<Libpavo>>(media_);
    messenger_->setPeerPath(peerPath_.get());
  }

  createRoomChannel();
  fireStartRequests();
  toolSelector_->setPlaceholderText(QStringLiteral("教具选择"));

  heartbeat_ = new HeartbeatInRoom(entry_.ownUserId, entry_.roomId, this);
  presenceTimer_ = new QTimer(this);
  teachingTimer_ = new QTimer(this);
  connect(presenceTimer_, &QTimer::timeout, heartbeat_, &HeartbeatInRoom::postSelfInRoom);
  connect(this, &Classroom::_stopTimerHeartBeatInRoom, presenceTimer_, &QTimer::stop);
  connect(teachingTimer_, &QTimer::timeout, heartbeat_, &HeartbeatInRoom::postIsTeaching);
  connect(this, &Classroom::_stopTimerHeartBeatTeaching, teachingTimer_, &QTimer::stop);
  presenceTimer_->start(kHeartbeatMs);

  auto* check = new CheckSelfDevice(media_);
  deviceCheck_ = check;
  connect(check, &CheckSelfDevice::VideoDeviceStatus, this, &Classroom::initSelfVideoDeviceStatus);
  connect(check, &CheckSelfDevice::AudioDeviceStatus, this, &Classroom::initSelfAudioDeviceStatus);
  check->start(QThread::InheritPriority);
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
    channel_ = new RoomChannelClient(entry_.ownUserId, entry_.roomId, this);
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
    auto* request = new HttpRequest;
    connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed), this,
            [this, path](QJsonObject answer) {
              startAnswers_.insert(path, answer);
              emit startAnswerArrived(path, answer);
            });
    request->request(HttpRequest::serviceUrl(endpoint.path), body, HttpRequest::kJson);
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
    auto* request = new HttpRequest;
    connect(request, qOverload<QPixmap>(&HttpRequest::requestFinshed), this,
            [this](QPixmap picture) { ownAvatar_ = picture; });
    request->request(HttpRequest::serviceUrl(QString::fromLatin1(ServiceApi::kUploadPrefix) +
                                             QLatin1Char('/') + avatar),
                     QString(), HttpRequest::kImage);
  }
}

// Connections.
void Classroom::slot_connect2MCU_state(int state) {
  if (state != 1)
    return;
  mcuConnected_ = true;
  messenger_->setMediaConnected(true);
  if (media_)
    media_->get_class_state();
  emit mcuConnectedChanged(true);
}

void Classroom::slot_disconnect_from_mcu() {
  mcuConnected_ = false;
  messenger_->setMediaConnected(false);
  if (LoginInfo::current().loggedInElsewhere || leaving_)
    return;
  showNetworkWeakAndClose();
}

void Classroom::__connect2msgs_state(int state) {
  if (state != 1)
    __disconect_from_msg();  // a failed attempt is retried the same way as a drop
}

void Classroom::__disconect_from_msg() {
  if (leaving_ || !channel_)
    return;
  // Give the server a moment when it refuses outright, so a dead server is not hammered.
  QTimer::singleShot(channel_->connectCount() > 1 ? 1000 : 0, this, [this] {
    if (!leaving_ && channel_)
      createRoomChannel();
  });
}

// The member who started a running class, asked for after entering.
void Classroom::__get_classing_user_ack(int code, quint32 userId) {
  if (code != 0 || !context_.classInProgress)
    return;
  context_.classStarterId = userId;
  context_.screenSharerId = userId;
  refreshRoleControls();
  refreshClassButtons();
  QJsonObject query = roommsg::newMessage(MSG_SHARE_STATE_QUERY);
  messenger_->sendRoomMsg(query, QString::number(userId));
  if (userId != entry_.ownUserId) {
    QJsonObject sync = roommsg::newMessage(ANNO_SYNC_REQUEST);
    messenger_->sendRoomJson(sync, QString::number(userId));
  }
}

void Classroom::slot_user_enter_room(MediaUser user) {
  auto* data = new MediaUser(user);
  pendingEnters_.append(data);  // freed with the answer, or with the window
  auto* request = new HttpRequest;
  connect(request, qOverload<QJsonObject, void*>(&HttpRequest::requestFinshed), this,
          &Classroom::onGetEnterUser);
  request->request(
      HttpRequest::serviceUrl(ServiceApi::kFindRoomUserTypeById.path),
      FormBody(ServiceApi::kFindRoomUserTypeById.body).arg(entry_.roomId).arg(user.userId),
      HttpRequest::kJson, data);
}

void Classroom::onGetEnterUser(QJsonObject answer, void* userData) {
  auto* pending = static_cast<MediaUser*>(userData);
  if (!pendingEnters_.removeOne(pending))
    return;
  std::unique_ptr<MediaUser> user(pending);
  if (answer.isEmpty() || answerFailed(answer) || leaving_)
    return;
  const QJsonValue body = answer.value(QLatin1String("body"));
  std::optional<RoomMember> member =
      RoomMember::fromJson(body.isObject() ? body.toObject() : answer);
  if (!member || member->userId != user->userId)
    return;
  member->hasCamera = (user->mask & device_camera) != 0;
  member->hasMicrophone = (user->mask & device_microphone) != 0;
  supplement_.removeAll(member->userId);
  addMember(*member);
}

void Classroom::slot_RoomTypeChanged(int roomType) {
  QJsonObject msg = roommsg::newMessage(MSG_ROOM_TYPE);
  msg.insert(QStringLiteral("roomType"), QString::number(roomType));
  messenger_->sendRoomMsg(msg, QString::fromLatin1(TARGET_ALL));
}

void Classroom::slot_ChatMsgArrived(const QJsonObject& msg) {
  const int typeId = msg.value(QLatin1String(KEY_TYPE_ID)).toString().toInt();
  if (typeId != MSG_ROOM_TYPE)
    return;  // chat, hands, gifts and the rest are read by their own panels
  const int roomType = msg.value(QLatin1String("roomType")).toVariant().toInt();
  if (leaving_)
    return;
  bool mustLeave = false;
  if (roomType == 2) {
    mustLeave = !context_.isAssistant && !context_.isOwner;
  } else if (roomType == 1) {
    const auto own = members_.constFind(entry_.ownUserId);
    mustLeave = own != members_.constEnd() && own->roleCode == RoomContext::kAuditor;
  }
  if (!mustLeave)
    return;
  leaving_ = true;
  close();
}

void Classroom::initSelfVideoDeviceStatus(bool present) {
  auto own = members_.find(entry_.ownUserId);
  if (own != members_.end()) {
    own->hasCamera = present;
    showMember(*own);
  }
  ownVideoButton_->setEnabled(present);
}

void Classroom::initSelfAudioDeviceStatus(bool present) {
  auto own = members_.find(entry_.ownUserId);
  if (own != members_.end()) {
    own->hasMicrophone = present;
    showMember(*own);
  }
  ownAudioButton_->setEnabled(present);
}

// Starting the class.
void Classroom::btnStartClass_clicked() {
  if (sharing_ && sharing_->lessonPlanUploading()) {
    toast(QStringLiteral("上传教案时不能开课！"));
    return;
  }
  if (!media_ || !mcuConnected_) {
    toast(QStringLiteral("未与教室建立连接"));
    return;
  }
  startClassButton_->setEnabled(false);
  if (media_->start_class() != 0)
    startClassButton_->setEnabled(true);
}

void Classroom::slot_start_class_ack(int result) {
  refreshClassButtons();
  if (result != 0)
    return;
  context_.classStarterId = entry_.ownUserId;
  classStarted(entry_.ownUserId);
  if (ctrl(media_cmd_open_media, entry_.ownUserId, media_kind_video) != 0)
    toast(QStringLiteral("打开视频失败！"));
  if (ctrl(media_cmd_open_media, entry_.ownUserId, media_kind_audio) != 0)
    toast(QStringLiteral("麦克风不存在或故障，打开声音失败！"));
  showBlankWhiteboard();
  heartbeat_->postIsTeaching();
  teachingTimer_->start(kHeartbeatMs);
  HttpRequest_StartClass();
}

void Classroom::HttpRequest_StartClass() {
  post(ServiceApi::kOpenRoom,
       FormBody(ServiceApi::kOpenRoom.body).arg(entry_.roomId).arg(entry_.ownUserId), this,
       &Classroom::onStartClass);
}

void Classroom::onStartClass(QJsonObject answer) {
  if (answer.isEmpty())
    showNetworkBox();
}

void Classroom::slot_ss_start_class(quint32 userId) {
  classStarted(userId);
}

void Classroom::classStarted(quint32 starterId) {
  const bool wasRunning = context_.classInProgress;
  context_.classInProgress = true;
  context_.classStarterId = starterId;
  refreshClassButtons();
  refreshRoleControls();
  if (!wasRunning) {
    showBlankWhiteboard();
    replayExistingMedia();
  }
}

// Stopping the class.
void Classroom::btnStopClass_clicked() {
  QNMessageBox box(this);
  box.setMessage(QStringLiteral("确定要停课吗？"), QStringLiteral("确定"), QStringLiteral("取消"));
  if (box.exec() != QDialog::Accepted)
    return;
  if (media_)
    media_->stop_class(entry_.ownUserId);
  context_.resetTeaching();
  if (phoneLink_)
    phoneLink_->closeLink();
  if (sharing_)
    sharing_->closeSharingWindows();
  if (recording_ && recording_->isRecording()) {
    toast(QStringLiteral("请保存录像！"));
    recording_->stopRecording();
  }
}

void Classroom::slot_ss_stop_class(quint32) {
  classStopped();
}

void Classroom::classStopped() {
  context_.classInProgress = false;
  context_.classStarterId = -1;
  context_.resetTeaching();
  emit _stopTimerHeartBeatTeaching();
  sharedArea_->setPixmap(QPixmap());
  sharedArea_->setStyleSheet(QString());
  sharedArea_->setText(QStringLiteral("等待老师上课"));
  refreshClassButtons();
  refreshRoleControls();
}

void Classroom::replayExistingMedia() {
  if (!context_.classInProgress)
    return;
  bool screen = false;
  for (const MediaUser& entry : existingMedia_) {
    for (int kind : {media_kind_video, media_kind_audio, media_kind_screen}) {
      if ((entry.mask & static_cast<quint32>(kind)) == 0)
        continue;
      emit signal_new_media_coming(entry.userId, kind);
      if (kind == media_kind_screen)
        screen = true;
    }
  }
  emit signal_have_exist_media(screen);
}

void Classroom::showBlankWhiteboard() {
  const QPixmap blank(QStringLiteral("./wbtemplete/whitepaper.png"));
  sharedArea_->setText(QString());
  if (blank.isNull()) {
    sharedArea_->setStyleSheet(QStringLiteral("background: white;"));
    return;
  }
  sharedArea_->setPixmap(
      blank.scaled(sharedArea_->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

// Members.
void Classroom::addMember(const RoomMember& member) {
  auto existing = members_.find(member.userId);
  if (existing != members_.end()) {
    RoomMember updated = member;
    updated.videoOn = existing->videoOn;
    updated.audioOn = existing->audioOn;
    *existing = updated;
    showMember(updated);
    return;
  }
  // Media may have been announced before the member was known (a member who is only in the
  // media server's list, or published media replayed on entry).
  RoomMember added = member;
  const int kinds = mediaKinds_.value(member.userId);
  added.videoOn = (kinds & media_kind_video) != 0;
  added.audioOn = (kinds & media_kind_audio) != 0;
  members_.insert(added.userId, added);
  showMember(added);
  if (added.userId == mainVideoUser_)
    mainVideoName_->setText(added.nickName);
  // A tile placed before the role was known may sit in the wrong strip.
  VideoGroup* right = groupFor(added.userId);
  VideoGroup* wrong = right == studentVideos_ ? otherVideos_ : studentVideos_;
  if (wrong->contains(added.userId)) {
    const quint32 promoted = wrong->remove(added.userId);
    if (promoted != 0)
      ctrl(media_cmd_subscribe, promoted, media_kind_video);
    otherVideos_->setVisible(!otherVideos_->displayed().isEmpty());
    placeVideo(added.userId);
  }
  for (VideoGroup* group : {studentVideos_, otherVideos_}) {
    if (PlayWnd* tile = group->tile(added.userId)) {
      tile->setUser(added.userId, added.nickName, added.roleCode);
      tile->setAudioOn(added.audioOn);
    }
  }
}

void Classroom::removeMember(quint32 userId) {
  if (!members_.contains(userId))
    return;
  freeVideo(userId);
  members_.remove(userId);
  memberList_->removeUser(userId);
}

void Classroom::slot_peer_message(quint32 senderId, QByteArray data) {
  messenger_->receivePeerMessage(senderId, data);
}

// Lost connections and failures.
void Classroom::showNetworkBox() {
  auto* box = new QNMessageBox(nullptr);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setObjectName(QStringLiteral("networkWeakBox"));
  box->setMessage(networkWeakText(), QString(), QString(), kNetworkBoxMs);
  box->setModal(true);
  box->show();
}

void Classroom::showNetworkWeakAndClose() {
  if (networkBoxShown_)
    return;
  networkBoxShown_ = true;
  leaving_ = true;
  close();
  showNetworkBox();
}

#include "BoardMember.h"

#include <QJsonObject>

#include "AnnotationControl.h"
#include "RoomMember.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "VWShapeDigest.h"

BoardMember::BoardMember(quint32 userId, int role, quint32 ownerId, quint32 roomId,
                         quint16 mcuPort, const std::string& credential, QSize areaSize)
    : userId_(userId) {
  entry_.roomId = roomId;
  entry_.ownUserId = userId;
  entry_.ownerId = ownerId;
  room_.roomId = roomId;
  room_.isOwner = userId == ownerId;
  session_ = std::make_unique<RoomSession>(userId, ownerId, room_);
  session_->setOwnRole(role, false);
  messenger_ = std::make_unique<RoomMessenger>(userId);
  dispatch_ = std::make_unique<RoomDispatch>();
  context_ = std::make_unique<ClassroomContext>(entry_, *session_, *messenger_, *dispatch_);
  bridge_ = std::make_unique<MediaEventBridge>();
  area_.resize(areaSize);
  context_->setWindow(&area_);
  whiteboard_ = std::make_unique<Whiteboard>(*context_, *this);
  connectEvents();

  media_ = Libpavo::create(bridge_.get(), userId, roomId, "127.0.0.1", mcuPort,
                           static_cast<user_role_t>(RoomContext::mediaRole(role)),
                           credential.c_str());
  if (!media_)
    return;
  bridge_->setLibrary(media_);
  context_->setMedia(media_);
  peer_ = std::make_unique<RoomPeerPathOver<Libpavo>>(media_);
  messenger_->setPeerPath(peer_.get());
}

BoardMember::~BoardMember() {
  whiteboard_.reset();  // its send thread ends before the messenger loses its path
  messenger_->setPeerPath(nullptr);
  context_->setMcuConnected(false);
  context_->setMedia(nullptr);
  if (media_)
    Libpavo::destory(media_);
  bridge_->setLibrary(nullptr);
}

void BoardMember::connectEvents() {
  const auto q = Qt::QueuedConnection;
  MediaEventBridge* b = bridge_.get();
  connect(messenger_.get(), &RoomMessenger::signal_AnnoMsgArrived, dispatch_.get(),
          &RoomDispatch::dispatch);
  const auto peer = qOverload<quint32, const QByteArray&>(&RoomMessenger::receivePeerMessage);
  connect(b, &MediaEventBridge::_p2p_msg, messenger_.get(), peer, q);
  connect(b, &MediaEventBridge::_p2all_msg, messenger_.get(), peer, q);
  connect(
      b, &MediaEventBridge::signal_connect2MCU_state, this,
      [this](int state) {
        context_->setMcuConnected(state == 1);
        if (state == 1 && media_)
          media_->get_class_state();
      },
      q);
  connect(
      b, &MediaEventBridge::signal_disconnect_from_mcu, this,
      [this] { context_->setMcuConnected(false); }, q);
  // A running class and who started it, then the board from the starter, as
  // the classroom's class control does.
  connect(
      b, &MediaEventBridge::_get_class_state_ack, this,
      [this](int state) {
        if (state != 1)
          return;
        session_->classRunning();
        if (media_)
          media_->get_classing_user();
      },
      q);
  connect(
      b, &MediaEventBridge::_get_classing_user_ack, this,
      [this](int code, quint32 starter) {
        if (code != 0 || !session_->classInProgress())
          return;
        session_->setClassingUser(starter);
        if (starter != userId_)
          whiteboard_->askForBoard(starter);
      },
      q);
  connect(
      b, &MediaEventBridge::_ss_start_class, this,
      [this](quint32 starter) { session_->classStarted(starter); }, q);
  connect(
      b, &MediaEventBridge::_start_class_ack, this,
      [this](int result) {
        if (result == 0)
          session_->classStarted(userId_);
      },
      q);
  connect(
      b, &MediaEventBridge::_ss_stop_class, this, [this](quint32) { session_->classStopped(); }, q);
  whiteboard_->annotation()->listenTo(*bridge_);
}

QByteArray BoardMember::digest() const {
  return vw::VWShapeDigest::digest(whiteboard_->canvas()->shapeList());
}

void BoardMember::startClass() {
  if (media_)
    media_->start_class();
}

void BoardMember::addMember(quint32 userId, int role, const QString& name) {
  static const char* const roleTexts[] = {"", "老师", "学生", "家长", "旁听", "其他"};
  const QJsonObject json{{"globalId", QString::number(userId)},
                         {"role", QString::fromUtf8(roleTexts[qBound(1, role, 5)])},
                         {"nickName", name}};
  if (const auto member = RoomMember::fromJson(json))
    session_->addMember(*member);
}

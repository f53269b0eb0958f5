#include "ClassControl.h"

#include "BoardSync.h"

#include <QTimer>

#include "ClassroomComponent.h"
#include "ClassroomContext.h"
#include "ClassroomHeader.h"
#include "FormBody.h"
#include "HeartbeatInRoom.h"
#include "NetworkBox.h"
#include "RoomMessage.h"
#include "RoomSession.h"
#include "libpavo/libpavo.h"

ClassControl::ClassControl(ClassroomContext& context, ClassroomHeader& header,
                           const QList<ClassroomComponent*>& components, QObject* parent)
    : QObject(parent),
      context_(context),
      floor_(context.classFloor()),
      media_(context.memberMedia()),
      session_(context.session()),
      header_(header),
      components_(components),
      teachingTimer_(new QTimer(this)) {
  setObjectName(QStringLiteral("classControl"));
  teachingTimer_->setObjectName(QStringLiteral("teachingTimer"));
  connect(this, &ClassControl::_stopTimerHeartBeatTeaching, teachingTimer_, &QTimer::stop);
  connect(&header_, &ClassroomHeader::startClassClicked, this,
          &ClassControl::btnStartClass_clicked);
  connect(&header_, &ClassroomHeader::stopClassClicked, this, &ClassControl::btnStopClass_clicked);
}

void ClassControl::setHeartbeat(HeartbeatInRoom* heartbeat) {
  heartbeat_ = heartbeat;
  connect(teachingTimer_, &QTimer::timeout, heartbeat_, &HeartbeatInRoom::postIsTeaching);
}

void ClassControl::btnStartClass_clicked() {
  for (ClassroomComponent* component : components_) {
    const QString refusal = component->startRefusal();
    if (!refusal.isEmpty()) {
      context_.toast(refusal);
      return;
    }
  }
  if (!context_.hasMedia() || !context_.mcuConnected()) {
    context_.toast(QStringLiteral("未与教室建立连接"));
    return;
  }
  header_.setStartEnabled(false);
  if (floor_.startClass() != 0)
    header_.setStartEnabled(true);
}

void ClassControl::mediaReconnected(int ownKinds) {
  reopenKinds_ |= ownKinds;
  awaitingClassState_ = true;
}

void ClassControl::reopenOwnMedia() {
  const quint32 own = context_.ownUserId();
  const int kinds = reopenKinds_;
  reopenKinds_ = 0;
  for (int kind : {media_kind_video, media_kind_audio})
    if (kinds & kind)
      media_.openMedia(own, kind);
}

void ClassControl::slot_start_class_ack(int result) {
  if (restarting_) {
    // The class goes on where it was: the service's record and the reports already run.
    restarting_ = false;
    if (result == 0)
      session_.classStarted(context_.ownUserId());
    reopenOwnMedia();
    return;
  }
  if (result != 0) {
    header_.setStartEnabled(true);
    return;
  }
  const quint32 own = context_.ownUserId();
  session_.classStarted(own);
  if (media_.openMedia(own, media_kind_video) != 0)
    context_.toast(QStringLiteral("打开视频失败！"));
  if (media_.openMedia(own, media_kind_audio) != 0)
    context_.toast(QStringLiteral("麦克风不存在或故障，打开声音失败！"));
  if (heartbeat_)
    heartbeat_->postIsTeaching();
  teachingTimer_->start(kTeachingMs);
  HttpRequest_StartClass();
}

void ClassControl::HttpRequest_StartClass() {
  context_.service().post(
      ServiceApi::kOpenRoom,
      FormBody(ServiceApi::kOpenRoom.body).arg(context_.roomId()).arg(context_.ownUserId()), this,
      &ClassControl::onStartClass);
}

void ClassControl::onStartClass(QJsonObject answer) {
  if (answer.isEmpty())
    NetworkBox::show();
}

void ClassControl::slot_ss_start_class(quint32 userId) {
  session_.classStarted(userId);
}

void ClassControl::slot_get_class_state_ack(int state) {
  if (awaitingClassState_) {
    awaitingClassState_ = false;
    const quint32 own = context_.ownUserId();
    if (state != 1 && session_.classInProgress() && session_.isClassStarter(own) &&
        floor_.startClass() == 0) {
      restarting_ = true;  // the own media follow the answer
      return;
    }
    reopenOwnMedia();
  }
  if (state != 1)
    return;
  // Entering a running class: it shows at once; who runs it is asked next.
  session_.classRunning();
  floor_.askClassingUser();
}

void ClassControl::__get_classing_user_ack(int code, quint32 userId) {
  if (code != 0 || !session_.classInProgress())
    return;
  session_.setClassingUser(userId);
  QJsonObject query = roommsg::newMessage(MSG_SHARE_STATE_QUERY);
  context_.sendRoomMsg(query, QString::number(userId));
  if (userId != context_.ownUserId()) {
    if (BoardSync* board = context_.find<BoardSync>()) {
      board->askForBoard(userId);
    } else {
      QJsonObject sync = roommsg::newMessage(ANNO_SYNC_REQUEST);
      context_.sendRoomJson(sync, QString::number(userId));
    }
  }
}

void ClassControl::btnStopClass_clicked() {
  if (!context_.dialogs().confirm(QStringLiteral("确定要停课吗？")))
    return;
  floor_.stopClass(context_.ownUserId());
  session_.resetTeaching();
  for (ClassroomComponent* component : components_)
    component->classStopping();
}

void ClassControl::slot_ss_stop_class(quint32) {
  session_.classStopped();
  emit _stopTimerHeartBeatTeaching();
}

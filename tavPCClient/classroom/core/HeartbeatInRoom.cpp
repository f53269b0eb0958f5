#include "HeartbeatInRoom.h"

#include "FormBody.h"

HeartbeatInRoom::HeartbeatInRoom(quint32 userId, quint32 roomId, const QString& authCode,
                                 QObject* parent)
    : QObject(parent), userId_(userId), roomId_(roomId), authCode_(authCode) {}

void HeartbeatInRoom::postSelfInRoom() {
  service_.post(ServiceApi::kHeartbeatPresence,
                FormBody(ServiceApi::kHeartbeatPresence.body).arg(userId_).arg(roomId_), this,
                &HeartbeatInRoom::onHeartbeatBack);
}

void HeartbeatInRoom::postIsTeaching() {
  // The answer is not read.
  service_.post(ServiceApi::kHeartbeatTeaching,
                FormBody(ServiceApi::kHeartbeatTeaching.body).arg(userId_).arg(roomId_), this,
                [](QJsonObject) {});
}

void HeartbeatInRoom::onHeartbeatBack(QJsonObject answer) {
  if (answer.isEmpty())
    return;
  const QJsonValue code = answer.value(QLatin1String("code"));
  if (code.isUndefined() || code.toVariant().toInt() != -1)
    return;
  service_.post(
      ServiceApi::kUserJoinRoomWithCode,
      FormBody(ServiceApi::kUserJoinRoomWithCode.body).arg(roomId_).arg(userId_).arg(authCode_),
      this, [](QJsonObject) {});
  emit rejoinSent();
}

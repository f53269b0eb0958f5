#include "HeartbeatInRoom.h"

#include "FormBody.h"
#include "HttpRequest.h"
#include "ServiceApi.h"

HeartbeatInRoom::HeartbeatInRoom(quint32 userId, quint32 roomId, QObject* parent)
    : QObject(parent), userId_(userId), roomId_(roomId) {}

void HeartbeatInRoom::postSelfInRoom() {
  auto* request = new HttpRequest;
  connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed), this,
          &HeartbeatInRoom::onHeartbeatBack);
  request->request(HttpRequest::serviceUrl(ServiceApi::kHeartbeatPresence.path),
                   FormBody(ServiceApi::kHeartbeatPresence.body).arg(userId_).arg(roomId_),
                   HttpRequest::kJson);
}

void HeartbeatInRoom::postIsTeaching() {
  auto* request = new HttpRequest;  // the answer is not read; it deletes itself
  request->request(HttpRequest::serviceUrl(ServiceApi::kHeartbeatTeaching.path),
                   FormBody(ServiceApi::kHeartbeatTeaching.body).arg(userId_).arg(roomId_),
                   HttpRequest::kJson);
}

void HeartbeatInRoom::onHeartbeatBack(QJsonObject answer) {
  if (answer.isEmpty())
    return;
  const QJsonValue code = answer.value(QLatin1String("code"));
  if (code.isUndefined() || code.toVariant().toInt() != -1)
    return;
  auto* request = new HttpRequest;
  request->request(HttpRequest::serviceUrl(ServiceApi::kUserJoinRoom.path),
                   FormBody(ServiceApi::kUserJoinRoom.body).arg(roomId_).arg(userId_),
                   HttpRequest::kJson);
  emit rejoinSent();
}

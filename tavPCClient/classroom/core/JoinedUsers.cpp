#include "JoinedUsers.h"

#include <QJsonObject>
#include <QJsonValue>

#include "FormBody.h"
#include "HttpRequest.h"
#include "ServiceApi.h"

QList<JoinedUser> readJoinedUsers(const QJsonArray& users) {
  QList<JoinedUser> read;
  for (const QJsonValue& value : users) {
    const QJsonObject user = value.toObject();
    QJsonValue id = user.value(QStringLiteral("globalId"));
    QJsonValue name = user.value(QStringLiteral("nickName"));
    if (id.isUndefined() || id.isNull()) {
      id = user.value(QStringLiteral("PglobalId"));
      name = user.value(QStringLiteral("PnickName"));
    }
    const qint64 userId = id.isString() ? id.toString().toLongLong() : qint64(id.toDouble());
    if (userId > 0 && userId <= 0xFFFFFFFFLL)
      read.append({quint32(userId), name.toString()});
  }
  return read;
}

void requestJoinedUsers(quint32 roomId, QObject* receiver,
                        std::function<void(const QJsonArray&)> answered) {
  auto* request = new HttpRequest;
  QObject::connect(request, qOverload<QJsonArray>(&HttpRequest::requestFinshed), receiver,
                   [answered = std::move(answered)](QJsonArray users) { answered(users); });
  request->request(
      HttpRequest::serviceUrl(QString::fromLatin1(ServiceApi::kSelectJoinRoomByRoomId.path)),
      FormBody(ServiceApi::kSelectJoinRoomByRoomId.body).arg(roomId), HttpRequest::kJson);
}

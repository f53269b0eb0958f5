#include "JoinedUsers.h"

#include <QJsonObject>
#include <QJsonValue>

#include "FormBody.h"
#include "ServiceCalls.h"

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

void requestJoinedUsers(const ServiceCalls& service, quint32 roomId, QObject* receiver,
                        std::function<void(const QJsonArray&)> answered) {
  service.postForArray(ServiceApi::kSelectJoinRoomByRoomId,
                       FormBody(ServiceApi::kSelectJoinRoomByRoomId.body).arg(roomId), receiver,
                       std::move(answered), nullptr);
}

#include "RoomCredentialRenewal.h"

#include "FormBody.h"
#include "ServiceCalls.h"

namespace {
constexpr int kForbidden = 403;  // the service's answer to a member removed for a while
constexpr int kTooManyRequests = 429;
constexpr int kServerFault = 500;
}  // namespace

RoomCredentialRenewal::RoomCredentialRenewal(quint32 roomId, quint32 userId,
                                             const QString& authCode, QObject* parent)
    : QObject(parent), roomId_(roomId), userId_(userId), authCode_(authCode) {
  setObjectName(QStringLiteral("roomCredentialRenewal"));
}

void RoomCredentialRenewal::renew() {
  if (busy_)
    return;
  busy_ = true;
  ServiceCalls().post(
      ServiceApi::kUserJoinRoomWithCode,
      FormBody(ServiceApi::kUserJoinRoomWithCode.body).arg(roomId_).arg(userId_).arg(authCode_),
      this, [this](QJsonObject answer) { onAnswer(answer); });
}

void RoomCredentialRenewal::onAnswer(const QJsonObject& answer) {
  busy_ = false;
  const QJsonValue code = answer.value(QLatin1String("code"));
  if (answer.isEmpty() || code.isUndefined()) {
    emit unreachable();
    return;
  }
  const int value = code.toVariant().toInt();
  const QString credential = answer.value(QLatin1String("room_credential")).toString();
  if (value == 0 && !credential.isEmpty()) {
    const QString mcu = answer.value(QLatin1String("mcu_ip_address")).toString();
    const int port = answer.value(QLatin1String("port")).toVariant().toInt();
    if (!mcu.isEmpty() && port > 0 && port < 65536)
      emit mediaServerNamed(mcu, static_cast<quint16>(port));
    emit renewed(credential, answer.value(QLatin1String("chat_server")).toString());
    return;
  }
  // A service that hands out no credential, or one too busy or broken to say: later.
  if (value == 0 || value == kTooManyRequests || value >= kServerFault) {
    emit unreachable();
    return;
  }
  emit refused(answer.value(QLatin1String("msg")).toString(), value == kForbidden);
}

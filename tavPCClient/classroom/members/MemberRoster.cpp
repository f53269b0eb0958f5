#include "MemberRoster.h"

#include <QTimer>
#include <memory>

#include "ClassroomContext.h"
#include "FormBody.h"
#include "ServiceApi.h"

namespace {

bool answerFailed(const QJsonObject& answer) {
  const QJsonValue code = answer.value(QLatin1String("code"));
  return !code.isUndefined() && !code.isNull() && code.toVariant().toInt() != 0;
}

}  // namespace

MemberRoster::MemberRoster(ClassroomContext& context, QObject* parent)
    : QObject(parent),
      context_(context),
      session_(context.session()),
      supplementTimer_(new QTimer(this)) {
  setObjectName(QStringLiteral("memberRoster"));
  supplementTimer_->setObjectName(QStringLiteral("supplementTimer"));
  connect(supplementTimer_, &QTimer::timeout, this, &MemberRoster::timerSupplement_timeout);
}

MemberRoster::~MemberRoster() {
  qDeleteAll(pending_);
}

void MemberRoster::slot_user_enter_room(MediaUser user) {
  auto* data = new MediaUser(user);
  pending_.append(data);
  context_.service().post(
      ServiceApi::kFindRoomUserTypeById,
      FormBody(ServiceApi::kFindRoomUserTypeById.body).arg(context_.roomId()).arg(user.userId),
      this, [this, data](QJsonObject answer) { onGetEnterUser(answer, data); });
}

void MemberRoster::onGetEnterUser(QJsonObject answer, void* userData) {
  auto* pending = static_cast<MediaUser*>(userData);
  if (!pending_.removeOne(pending))
    return;  // not ours
  std::unique_ptr<MediaUser> user(pending);
  if (answer.isEmpty() || answerFailed(answer))
    return;
  const QJsonValue body = answer.value(QLatin1String("body"));
  std::optional<RoomMember> member =
      RoomMember::fromJson(body.isObject() ? body.toObject() : answer);
  if (!member || member->userId != user->userId)
    return;
  session_.addMember(*member);
  session_.setDevices(member->userId, user->mask);
}

void MemberRoster::slot_get_user_list(MediaUserList users) {
  // Users the service did not list yet are looked up now; the timer repeats it.
  for (quint32 id : session_.applyMediaServerList(users))
    slot_user_enter_room(MediaUser{id, session_.supplementMask(id)});
  if (!session_.supplementList().isEmpty() && !supplementTimer_->isActive())
    supplementTimer_->start(kSupplementMs);
}

void MemberRoster::timerSupplement_timeout() {
  if (session_.supplementList().isEmpty()) {
    supplementTimer_->stop();
    return;
  }
  for (quint32 id : session_.supplementList())
    slot_user_enter_room(MediaUser{id, session_.supplementMask(id)});
}

void MemberRoster::slot_user_leave_from_room(quint32 userId) {
  session_.userLeft(userId);
}

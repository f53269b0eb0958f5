#include "HandControl.h"

#include <QJsonValue>
#include <QPointer>
#include <QPushButton>

#include "ClassroomContext.h"
#include "FormBody.h"
#include "RoomMessageTypes.h"
#include "RoomSession.h"
#include "ServiceApi.h"

namespace {
const QString kRaise = QStringLiteral("举手");
const QString kLower = QStringLiteral("放手");

quint32 idOf(const QJsonValue& value) {
  const qint64 id = value.isString() ? value.toString().toLongLong() : qint64(value.toDouble());
  return id > 0 && id <= 0xFFFFFFFFLL ? quint32(id) : 0;
}
}  // namespace

HandControl::HandControl(ClassroomContext& context, QObject* parent)
    : QObject(parent),
      context_(context),
      session_(context.session()),
      button_(new QPushButton(kRaise)) {
  button_->setObjectName(QStringLiteral("btnHandUp"));
  button_->setCursor(Qt::PointingHandCursor);
  connect(button_, &QPushButton::clicked, this, &HandControl::btnHandUp_clicked);
  // The button lives in the window once placed; unplaced, it goes with this.
  connect(this, &QObject::destroyed, button_, [b = QPointer<QPushButton>(button_)] {
    if (b && !b->parent())
      delete b;
  });
  context_.handleRoomMessages({MSG_HAND}, this,
                              [this](const QJsonObject& msg) { onHandMessage(msg); });
  connect(&session_, &RoomSession::rolesChanged, this, &HandControl::refreshButton);
  refreshButton();
}

void HandControl::refreshButton() {
  button_->setVisible(!session_.hasTeacherRights());
}

bool HandControl::send(const QString& content) {
  QJsonObject msg = context_.ownMessage(MSG_HAND);
  msg.insert(QStringLiteral("content"), content);
  return context_.sendRoomMsg(msg, QStringLiteral("*")) == 0;
}

void HandControl::btnHandUp_clicked() {
  const bool raising = button_->text() == kRaise;
  if (!send(raising ? QStringLiteral("1") : QStringLiteral("0"))) {
    context_.toast(QStringLiteral("发送消息失败！"));
    return;
  }
  button_->setText(raising ? kLower : kRaise);
  setHand(context_.ownUserId(), raising);
  if (raising)
    context_.service().post(ServiceApi::kAddHistory,
                            FormBody(ServiceApi::kAddHistory.body)
                                .arg(QStringLiteral("hands"))
                                .arg(context_.roomId())
                                .arg(context_.ownUserId()),
                            &context_, [](QJsonObject) {});
}

void HandControl::setHand(quint32 userId, bool up) {
  session_.setHandUp(userId, up);
  if (up)
    emit signal_hand_up(userId);
  else
    emit signal_hand_down(userId);
}

void HandControl::onHandMessage(const QJsonObject& msg) {
  const QString content = msg.value(QStringLiteral("content")).toString();
  if (content != QLatin1String("0") && content != QLatin1String("1"))
    return;
  const bool up = content == QLatin1String("1");
  const QJsonValue lowered = msg.value(QStringLiteral("handDownUserId"));
  if (!lowered.isUndefined() && !lowered.isNull()) {
    // One member lowering another's hand: only the teacher's side may.
    const quint32 sender = idOf(msg.value(QStringLiteral("sendUserId")));
    const RoomMember* from = session_.member(sender);
    const bool mayLower =
        from && (from->roleCode == RoomContext::kTeacher || from->isAssistant ||
                 sender == session_.room().classStarterId || sender == context_.entry().ownerId);
    const quint32 target = idOf(lowered);
    if (!target || !mayLower)
      return;
    setHand(target, up);
    if (target == context_.ownUserId() && button_->text() == kLower)
      btnHandUp_clicked();
    return;
  }
  if (const quint32 sender = idOf(msg.value(QStringLiteral("sendUserId"))))
    setHand(sender, up);
}

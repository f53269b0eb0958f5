#include "FollowButton.h"

#include <QJsonValue>

#include "ClassroomContext.h"
#include "FormBody.h"
#include "ServiceApi.h"

namespace {
bool succeeded(const QJsonObject& answer) {
  const QJsonValue code = answer.value(QStringLiteral("code"));
  return !answer.isEmpty() && (code.isUndefined() || code.isNull() || code.toInt(-1) == 0);
}
}  // namespace

FollowButton::FollowButton(ClassroomContext& context, QWidget* parent)
    : QPushButton(parent), context_(context) {
  setObjectName(QStringLiteral("btnAttention"));
  setCursor(Qt::PointingHandCursor);
  setIconSize(QSize(16, 16));
  display(false);
  connect(this, &QPushButton::clicked, this, &FollowButton::btnAttention_clicked);
  const QString path = QString::fromLatin1(ServiceApi::kSelectRoomAssociatedByIds.path);
  auto apply = [this](const QJsonObject& answer) {
    if (succeeded(answer))
      display(answer.value(QStringLiteral("body"))
                  .toObject()
                  .value(QStringLiteral("followed"))
                  .toBool());
  };
  connect(&context_, &ClassroomContext::startAnswerArrived, this,
          [path, apply](const QString& p, const QJsonObject& answer) {
            if (p == path)
              apply(answer);
          });
  if (!context_.startAnswer(path).isEmpty())
    apply(context_.startAnswer(path));
}

void FollowButton::display(bool followed) {
  followed_ = followed;
  setText(followed ? QStringLiteral("取消关注") : QStringLiteral("关注"));
  setIcon(QIcon(followed ? QStringLiteral(":/res/room/attention_checked.png")
                         : QStringLiteral(":/res/room/attention.png")));
}

void FollowButton::btnAttention_clicked() {
  const ServiceEndpoint& endpoint =
      followed_ ? ServiceApi::kDeleteRoomAssociated : ServiceApi::kAddRoomAssociated;
  const QString body = FormBody(endpoint.body).arg(context_.ownUserId()).arg(context_.roomId());
  setEnabled(false);  // until the answer
  if (followed_)
    context_.service().post(endpoint, body, this, &FollowButton::onCancelAttention_back);
  else
    context_.service().post(endpoint, body, this, &FollowButton::onAttention_back);
}

void FollowButton::onAttention_back(QJsonObject answer) {
  setEnabled(true);
  if (!succeeded(answer)) {
    context_.toast(QStringLiteral("关注失败！"));
    return;
  }
  context_.toast(QStringLiteral("关注班级成功！"));
  display(true);
}

void FollowButton::onCancelAttention_back(QJsonObject answer) {
  setEnabled(true);
  if (!succeeded(answer)) {
    context_.toast(QStringLiteral("取消关注失败！"));
    return;
  }
  context_.toast(QStringLiteral("取消关注班级成功！"));
  display(false);
}

void FollowButton::slot_FollowChange(bool followed) {
  display(followed);
}

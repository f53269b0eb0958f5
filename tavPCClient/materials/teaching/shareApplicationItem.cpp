#include "shareApplicationItem.h"

shareApplicationItem::shareApplicationItem(quint32 userId, const QString& displayName,
                                           QWidget* parent)
    : RequestItem(userId, displayName, QStringLiteral("申请使用教具"), parent) {
  setObjectName(QStringLiteral("shareApplicationItem"));
  timer_.setSingleShot(true);
  timer_.setInterval(kAnswerMs);
  connect(&timer_, &QTimer::timeout, this,
          [this] { sending_ == 1 ? slot_sendApprove_timeOut() : slot_sendRefuse_timeOut(); });
  connect(this, &RequestItem::answered, this,
          [this](int reply) { emit sgnReplyApply(this, reply); });
}

void shareApplicationItem::answerSent(int reply) {
  sending_ = reply;
  setSending();
  timer_.start();
}

void shareApplicationItem::slot_sendApprove_timeOut() {
  sending_ = 0;
  setAnswerable();
  emit timeOut(userId());
}

void shareApplicationItem::slot_sendRefuse_timeOut() {
  sending_ = 0;
  setAnswerable();
  emit timeOut(userId());
}

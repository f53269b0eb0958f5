// One student's request for the teaching tool in the teacher's list: the
// name, "申请使用教具", approve and refuse. An answer that the media server
// has not confirmed within kAnswerMs times out: the item can be answered again.
#pragma once

#include <QTimer>

#include "RequestItem.h"

class shareApplicationItem : public RequestItem {
  Q_OBJECT
public:
  static constexpr int kAnswerMs = 10000;

  shareApplicationItem(quint32 userId, const QString& displayName, QWidget* parent);

  // The answer went to the media server; its confirmation is awaited.
  void answerSent(int reply);
  int answerSending() const { return sending_; }

signals:
  // reply: 1 approve, 2 refuse.
  void sgnReplyApply(shareApplicationItem* item, int reply);
  void timeOut(uint userId);

private slots:
  void slot_sendApprove_timeOut();
  void slot_sendRefuse_timeOut();

private:
  QTimer timer_;
  int sending_ = 0;
};

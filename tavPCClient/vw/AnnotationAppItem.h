// One member's request to write on the board, as the teacher sees it in the
// request list: the name, "申请使用板书", approve and refuse.
#pragma once

#include "RequestItem.h"

namespace vw {

class AnnotationAppItem : public RequestItem {
  Q_OBJECT
public:
  AnnotationAppItem(quint32 userId, const QString& displayName, QWidget* parent);

signals:
  // reply: 1 approve, 2 refuse.
  void sgnReplyApply(AnnotationAppItem* item, int reply);
};

}  // namespace vw

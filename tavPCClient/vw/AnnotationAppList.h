// The teacher's list of board-writing requests ("申请板书的请求列表").
#pragma once

#include "RequestList.h"

namespace vw {

class AnnotationAppItem;

class AnnotationAppList : public RequestList {
  Q_OBJECT
public:
  explicit AnnotationAppList(QWidget* parent);

  // The new item; null when the member is already listed.
  AnnotationAppItem* addRequest(quint32 userId, const QString& displayName);
  AnnotationAppItem* item(quint32 userId) const;
};

}  // namespace vw

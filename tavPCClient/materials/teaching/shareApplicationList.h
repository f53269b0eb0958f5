// The teacher's list of teaching-tool requests ("申请教具的请求列表").
#pragma once

#include "RequestList.h"

class shareApplicationItem;

class shareApplicationList : public RequestList {
  Q_OBJECT
public:
  explicit shareApplicationList(QWidget* parent);

  // The new item; null when the student is already listed.
  shareApplicationItem* addRequest(quint32 userId, const QString& displayName);
  shareApplicationItem* item(quint32 userId) const;
};

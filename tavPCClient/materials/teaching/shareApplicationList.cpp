#include "shareApplicationList.h"

#include "shareApplicationItem.h"

shareApplicationList::shareApplicationList(QWidget* parent)
    : RequestList(QStringLiteral("申请教具的请求列表"), QStringLiteral("暂无教具申请"), parent) {
  setObjectName(QStringLiteral("shareApplicationList"));
}

shareApplicationItem* shareApplicationList::addRequest(quint32 userId, const QString& displayName) {
  auto* item = new shareApplicationItem(userId, displayName, rows());
  return addItem(item) ? item : nullptr;
}

shareApplicationItem* shareApplicationList::item(quint32 userId) const {
  return static_cast<shareApplicationItem*>(requestItem(userId));
}

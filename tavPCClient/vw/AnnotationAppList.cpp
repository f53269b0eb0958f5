#include "AnnotationAppList.h"

#include "AnnotationAppItem.h"

namespace vw {

AnnotationAppList::AnnotationAppList(QWidget* parent)
    : RequestList(QStringLiteral("申请板书的请求列表"), QStringLiteral("暂无板书申请"), parent) {}

AnnotationAppItem* AnnotationAppList::addRequest(quint32 userId, const QString& displayName) {
  auto* item = new AnnotationAppItem(userId, displayName, rows());
  return addItem(item) ? item : nullptr;
}

AnnotationAppItem* AnnotationAppList::item(quint32 userId) const {
  return static_cast<AnnotationAppItem*>(requestItem(userId));
}

}  // namespace vw

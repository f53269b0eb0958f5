#include "AnnotationAppItem.h"

namespace vw {

AnnotationAppItem::AnnotationAppItem(quint32 userId, const QString& displayName, QWidget* parent)
    : RequestItem(userId, displayName, QStringLiteral("申请使用板书"), parent) {
  setObjectName(QStringLiteral("annotationAppItem"));
  connect(this, &RequestItem::answered, this,
          [this](int reply) { emit sgnReplyApply(this, reply); });
}

}  // namespace vw

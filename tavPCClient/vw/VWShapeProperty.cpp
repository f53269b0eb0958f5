#include "VWShapeProperty.h"

int VWShapeProperty::registerMetaType() {
  static const int id = qRegisterMetaType<VWShapeProperty>("VWShapeProperty");
  return id;
}

VWShapeProperty VWShapeProperty::fromVariant(const QVariant& v) {
  registerMetaType();
  if (v.userType() == qMetaTypeId<VWShapeProperty>())
    return v.value<VWShapeProperty>();
  if (v.canConvert<VWShapeProperty>()) {
    QVariant copy = v;
    if (copy.convert(qMetaTypeId<VWShapeProperty>()))
      return copy.value<VWShapeProperty>();
  }
  return VWShapeProperty();
}

QVariant VWShapeProperty::toVariant() const {
  registerMetaType();
  return QVariant::fromValue(*this);
}

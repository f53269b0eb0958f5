#include "VWJsonRead.h"

#include <cmath>

#include "VWBounds.h"

namespace vw {

std::optional<int> intOf(const QJsonValue& v) {
  if (!v.isDouble() || !std::isfinite(v.toDouble()))
    return std::nullopt;
  return truncToInt(v.toDouble());
}

std::optional<double> coordinateOf(const QJsonValue& v) {
  if (v.isDouble())
    return v.toDouble();
  if (v.isString()) {
    bool ok = false;
    const double d = v.toString().trimmed().toDouble(&ok);
    if (ok)
      return d;
  }
  return std::nullopt;
}

std::optional<QPointF> pointOf(const QJsonObject& o) {
  const auto x = coordinateOf(o.value("x"));
  const auto y = coordinateOf(o.value("y"));
  if (!x || !y)
    return std::nullopt;
  return boundedPoint(QPointF(*x, *y));
}

}  // namespace vw

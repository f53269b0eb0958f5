#include "VWBounds.h"

#include <QtGlobal>
#include <climits>
#include <cmath>

namespace vw {

std::optional<QPointF> boundedPoint(const QPointF& p) {
  if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
    return std::nullopt;
  return QPointF(qBound(-kMaxNormalisedCoordinate, p.x(), kMaxNormalisedCoordinate),
                 qBound(-kMaxNormalisedCoordinate, p.y(), kMaxNormalisedCoordinate));
}

VWShapeProperty boundedProperty(const VWShapeProperty& p) {
  VWShapeProperty b = p;
  b.red = qBound(0, p.red, 255);
  b.green = qBound(0, p.green, 255);
  b.blue = qBound(0, p.blue, 255);
  b.alpha = qBound(0, p.alpha, 255);
  b.width = qBound(0, p.width, kMaxPenWidth);
  return b;
}

int truncToInt(double v) {
  if (std::isnan(v))
    return 0;
  if (v >= double(INT_MAX))
    return INT_MAX;
  if (v <= double(INT_MIN))
    return INT_MIN;
  return static_cast<int>(v);
}

}  // namespace vw

#include "VWLines.h"

#include <QPainter>
#include <QPainterPath>

namespace vw {

void VWLines::draw(QPainter* painter, QSize canvasSize, int mode) {
  applyPen(painter, mode);
  // While the size stays, only the points added since the last draw are converted.
  if (canvasSize != lastCanvasSize_ || pixelPoints_.size() > points_.size())
    pixelPoints_.clear();
  lastCanvasSize_ = canvasSize;
  pixelPoints_.reserve(points_.size());
  for (int i = pixelPoints_.size(); i < points_.size(); ++i)
    pixelPoints_.append(
        QPointF(points_[i].x() * canvasSize.width(), points_[i].y() * canvasSize.height()));
  if (pixelPoints_.size() < 2)
    return;

  // Points 1 and 2 are the controls of a cubic ending at point 3, and so on;
  // what is left over after the last whole curve is joined with straight lines.
  const int n = pixelPoints_.size();
  QPainterPath path(pixelPoints_[0]);
  int i = 1;
  for (; i <= n - 3; i += 3)
    path.cubicTo(pixelPoints_[i], pixelPoints_[i + 1], pixelPoints_[i + 2]);
  for (; i < n; ++i)
    path.lineTo(pixelPoints_[i]);
  painter->drawPath(path);
}

}  // namespace vw

#include "VWLine.h"

#include <QPainter>

namespace vw {

void VWLine::draw(QPainter* painter, QSize canvasSize, int mode) {
  applyPen(painter, mode);
  lastCanvasSize_ = canvasSize;
  // Single precision, as every canvas computes it, so peers hit the same pixels.
  const float w = float(canvasSize.width());
  const float h = float(canvasSize.height());
  pixelStartPoint_ = QPointF(float(startPoint_.x()) * w, float(startPoint_.y()) * h);
  pixelEndPoint_ = QPointF(float(endPoint_.x()) * w, float(endPoint_.y()) * h);
  painter->drawLine(QLineF(pixelStartPoint_, pixelEndPoint_));
}

}  // namespace vw

#include "VWRect.h"

#include <QPainter>

#include "VWBounds.h"

namespace vw {

void VWRect::draw(QPainter* painter, QSize canvasSize, int mode) {
  applyPen(painter, mode);
  updatePixelPoints(canvasSize);
  // Integer rectangle; width and height may be negative (dragged up or left).
  painter->drawRect(truncToInt(pixelStartPoint_.x()), truncToInt(pixelStartPoint_.y()),
                    truncToInt(pixelEndPoint_.x() - pixelStartPoint_.x()),
                    truncToInt(pixelEndPoint_.y() - pixelStartPoint_.y()));
}

}  // namespace vw

#include "VWEraser.h"

#include <QPainter>

#include "VWClassroomLink.h"
#include "VWSharedPictureDisplay.h"

namespace vw {

VWEraser::VWEraser(VWClassroomLink* classroom)
    : classroom_(classroom), picture_(classroom ? classroom->sharedPictureDisplay() : nullptr) {}

void VWEraser::draw(QPainter* painter, QSize canvasSize, int mode) {
  if (canvasSize != lastCanvasSize_ || pixelPoints_.size() != points_.size()) {
    lastCanvasSize_ = canvasSize;
    pixelPoints_.clear();
    pixelPoints_.reserve(points_.size());
    for (const QPointF& p : points_)
      pixelPoints_.append(QPointF(p.x() * canvasSize.width(), p.y() * canvasSize.height()));
  }
  if (mode == 0) {
    // The canvas lies exactly over the shown picture, so a texture brush at the
    // canvas origin puts back the picture's own pixels.
    const QBrush picture = picture_ ? picture_->pictureBrush() : QBrush();
    if (picture.style() == Qt::NoBrush)
      return;
    painter->setPen(QPen(picture, style_.width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
  } else {
    applyPen(painter, mode);
  }
  painter->drawLines(pixelPoints_);
}

}  // namespace vw

#include "VWBaseShape.h"

#include <QPainter>

#include "VWArrow.h"
#include "VWEllipse.h"
#include "VWEraser.h"
#include "VWLine.h"
#include "VWLines.h"
#include "VWRect.h"

namespace vw {

void VWBaseShape::setProperty(const VWShapeProperty& p) {
  if (style_ == p)
    return;
  style_ = p;
}

std::shared_ptr<VWBaseShape> VWBaseShape::create(int shapeType, VWClassroomLink* classroom) {
  switch (shapeType) {
    case 1:
      return std::make_shared<VWLines>();
    case 2:
      return std::make_shared<VWLine>();
    case 3:
      return std::make_shared<VWRect>();
    case 4:
      return std::make_shared<VWEllipse>();
    case 5:
      return std::make_shared<VWArrow>();
    case 7:
      return std::make_shared<VWEraser>(classroom);
    default:
      return nullptr;  // 0 is "no tool"; 6 is not assigned
  }
}

void VWBaseShape::applyPen(QPainter* painter, int mode) const {
  const QColor colour(style_.red, style_.green, style_.blue, style_.alpha);
  if (mode == 0)
    painter->setPen(QPen(QBrush(colour, Qt::SolidPattern), style_.width, Qt::SolidLine,
                         Qt::SquareCap, Qt::BevelJoin));
  else if (mode == 1)
    painter->setPen(QPen(QBrush(Qt::transparent, Qt::SolidPattern), style_.width, Qt::SolidLine,
                         Qt::SquareCap, Qt::BevelJoin));
}

void VWBaseShape::updatePixelPoints(QSize canvasSize) {
  lastCanvasSize_ = canvasSize;
  pixelStartPoint_ =
      QPointF(startPoint_.x() * canvasSize.width(), startPoint_.y() * canvasSize.height());
  pixelEndPoint_ = QPointF(endPoint_.x() * canvasSize.width(), endPoint_.y() * canvasSize.height());
}

}  // namespace vw

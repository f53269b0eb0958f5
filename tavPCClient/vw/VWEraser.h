// An eraser stroke: repaints the shared picture over the drawing, along
// separate segments between points 0-1, 2-3, ...
#pragma once

#include <QVector>

#include "VWBaseShape.h"

namespace vw {

class VWClassroomLink;
class VWSharedPictureDisplay;

class VWEraser : public VWBaseShape {
public:
  explicit VWEraser(VWClassroomLink* classroom);

  void draw(QPainter* painter, QSize canvasSize, int mode) override;

  void appendPoint(const QPointF& p) { points_.append(p); }
  const QVector<QPointF>& points() const { return points_; }

private:
  VWClassroomLink* classroom_;
  VWSharedPictureDisplay* picture_;  // looked up once
  QVector<QPointF> points_;
  QVector<QPointF> pixelPoints_;
};

}  // namespace vw

// A free-hand stroke: every pointer position, drawn as a smoothed path.
#pragma once

#include <QVector>

#include "VWBaseShape.h"

namespace vw {

class VWLines : public VWBaseShape {
public:
  void draw(QPainter* painter, QSize canvasSize, int mode) override;

  void appendPoint(const QPointF& p) { points_.append(p); }
  const QVector<QPointF>& points() const { return points_; }

private:
  QVector<QPointF> points_;
  QVector<QPointF> pixelPoints_;
};

}  // namespace vw

#include "VWArrow.h"

#include <QPainter>
#include <cmath>

#include "VWBounds.h"

namespace vw {

void VWArrow::draw(QPainter* painter, QSize canvasSize, int mode) {
  applyPen(painter, mode);
  updatePixelPoints(canvasSize);
  const QPointF& s = pixelStartPoint_;
  const QPointF& e = pixelEndPoint_;
  painter->drawLine(QLineF(s, e));

  const double theta = std::atan2(e.y() - s.y(), e.x() - s.x());
  const QPoint tip(truncToInt(e.x()), truncToInt(e.y()));
  const QPoint head1(truncToInt(e.x() - kHeadLength * std::cos(theta - kHeadHalfAngle)),
                     truncToInt(e.y() - kHeadLength * std::sin(theta - kHeadHalfAngle)));
  const QPoint head2(truncToInt(e.x() - kHeadLength * std::cos(theta + kHeadHalfAngle)),
                     truncToInt(e.y() - kHeadLength * std::sin(theta + kHeadHalfAngle)));
  painter->drawLine(head1, tip);
  painter->drawLine(head2, tip);
}

}  // namespace vw

// A segment from start to end with a two-stroke head at the end. The head is
// 10 pixels long at ±0.5 radian whatever the canvas size.
#pragma once

#include "VWBaseShape.h"

namespace vw {

class VWArrow : public VWBaseShape {
public:
  static constexpr double kHeadLength = 10.0;
  static constexpr double kHeadHalfAngle = 0.5;

  void draw(QPainter* painter, QSize canvasSize, int mode) override;
};

}  // namespace vw

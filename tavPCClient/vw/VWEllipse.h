// An ellipse outline in the rectangle between start and end.
#pragma once

#include "VWBaseShape.h"

namespace vw {

class VWEllipse : public VWBaseShape {
public:
  void draw(QPainter* painter, QSize canvasSize, int mode) override;
};

}  // namespace vw

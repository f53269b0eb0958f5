// A rectangle outline between start and end.
#pragma once

#include "VWBaseShape.h"

namespace vw {

class VWRect : public VWBaseShape {
public:
  void draw(QPainter* painter, QSize canvasSize, int mode) override;
};

}  // namespace vw

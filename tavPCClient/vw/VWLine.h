// A straight segment from start to end.
#pragma once

#include "VWBaseShape.h"

namespace vw {

class VWLine : public VWBaseShape {
public:
  void draw(QPainter* painter, QSize canvasSize, int mode) override;
};

}  // namespace vw

// One shape of the whiteboard. Geometry is normalised (fractions of the canvas
// width and height); drawing multiplies it by the size of the canvas painted.
#pragma once

#include <QPointF>
#include <QSize>
#include <memory>

#include "VWShapeProperty.h"

class QPainter;

namespace vw {

class VWClassroomLink;

class VWBaseShape {
public:
  VWBaseShape() = default;
  virtual ~VWBaseShape() = default;
  VWBaseShape(const VWBaseShape&) = delete;
  VWBaseShape& operator=(const VWBaseShape&) = delete;

  // mode 0: the style's colour; 1: a transparent pen; other: the painter's pen.
  virtual void draw(QPainter* painter, QSize canvasSize, int mode) = 0;

  void setStartPoint(const QPointF& p) { startPoint_ = p; }
  void setEndPoint(const QPointF& p) { endPoint_ = p; }
  QPointF startPoint() const { return startPoint_; }
  QPointF endPoint() const { return endPoint_; }
  void setProperty(const VWShapeProperty& p);
  const VWShapeProperty& property() const { return style_; }

  // A shape of the tool code (1-5, 7); null for any other code. The eraser
  // reaches the shared picture through the classroom.
  static std::shared_ptr<VWBaseShape> create(int shapeType, VWClassroomLink* classroom);

protected:
  // Sets the painter's pen for the mode (modes other than 0 and 1 leave it).
  void applyPen(QPainter* painter, int mode) const;
  // Pixel start and end for the canvas size, and the size remembered.
  void updatePixelPoints(QSize canvasSize);

  QPointF startPoint_;
  QPointF endPoint_;
  QSize lastCanvasSize_;
  QPointF pixelStartPoint_;
  QPointF pixelEndPoint_;
  VWShapeProperty style_;
};

}  // namespace vw

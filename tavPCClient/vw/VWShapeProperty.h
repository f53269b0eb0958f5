// The pen of the canvas and the style of each shape.
#pragma once

#include <QMetaType>
#include <QVariant>
#include <cstdint>

struct VWShapeProperty {
  int32_t shapeType = 0;  // tool code: 1 pen, 2 line, 3 rectangle, 4 ellipse, 5 arrow, 7 eraser
  int32_t red = 255;
  int32_t green = 0;
  int32_t blue = 0;
  int32_t alpha = 255;
  int32_t width = 2;  // pen width in pixels

  bool operator==(const VWShapeProperty& o) const {
    return shapeType == o.shapeType && red == o.red && green == o.green && blue == o.blue &&
           alpha == o.alpha && width == o.width;
  }
  bool operator!=(const VWShapeProperty& o) const { return !(*this == o); }

  // The record a variant holds; the default record when it holds none and
  // cannot be converted to one.
  static VWShapeProperty fromVariant(const QVariant& v);
  QVariant toVariant() const;

  // Registers the type under the name "VWShapeProperty" (once; safe to repeat).
  static int registerMetaType();
};

Q_DECLARE_METATYPE(VWShapeProperty)

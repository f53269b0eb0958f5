#include "VWShapeObject.h"

#include <QJsonArray>

#include "VWBaseShape.h"
#include "VWEraser.h"
#include "VWLines.h"

namespace vw {

namespace {

QJsonArray numberPoints(const QVector<QPointF>& points) {
  QJsonArray array;
  for (const QPointF& p : points)
    array.append(QJsonObject{{"x", p.x()}, {"y", p.y()}});
  return array;
}

QJsonObject textPoint(const QPointF& p) {
  return QJsonObject{{"x", QString::number(p.x(), 'g', 6)}, {"y", QString::number(p.y(), 'g', 6)}};
}

}  // namespace

QJsonObject toShapeObject(const VWBaseShape& shape) {
  const VWShapeProperty& s = shape.property();
  QJsonObject object;
  object.insert("shapeType", s.shapeType);
  object.insert("shapeColor", QJsonObject{{"r", s.red}, {"g", s.green}, {"b", s.blue}, {"a", s.alpha}});
  object.insert("lineWidth", s.width);
  if (auto lines = dynamic_cast<const VWLines*>(&shape))
    object.insert("points", numberPoints(lines->points()));
  else if (auto eraser = dynamic_cast<const VWEraser*>(&shape))
    object.insert("points", numberPoints(eraser->points()));
  else
    object.insert("points", QJsonArray{textPoint(shape.startPoint()), textPoint(shape.endPoint())});
  return object;
}

}  // namespace vw

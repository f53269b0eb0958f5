// A finished shape as it travels to a member who asks for the board:
// {"shapeType", "shapeColor": {"r","g","b","a"}, "lineWidth", "points": [{"x","y"}...]}.
// Free-hand and eraser shapes carry every point as a number; the other kinds
// their start and end as strings with 6 significant digits.
#pragma once

#include <QJsonObject>

namespace vw {

class VWBaseShape;

QJsonObject toShapeObject(const VWBaseShape& shape);

}  // namespace vw

// A canonical form of a board, so that two canvases can be compared: the
// shapes in order with their kind, colour, width and points, the points
// written as they travel between members (free-hand and eraser points as
// exact numbers, the two points of the other shapes with 6 significant digits).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

namespace vw {

class VWBaseShape;

class VWShapeDigest {
public:
  using ShapeList = QList<std::shared_ptr<VWBaseShape>>;

  // One line per shape: "type r,g,b,a width x,y x,y ...".
  static QString canonicalText(const ShapeList& shapes);
  // SHA-256 of the canonical text, in hex.
  static QByteArray digest(const ShapeList& shapes);
};

}  // namespace vw

// The board without a widget: the pen, the finished shapes in drawing order, the shape being
// drawn, undo and redo, all within the limits of VWBounds.h, and the painting of it all. The
// canvas (VWPaintWidget) shows one; the class recorder keeps one of its own and paints it
// offscreen. Used by one thread at a time.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QPointF>
#include <QSize>
#include <QString>
#include <memory>

#include "VWShapeProperty.h"

class QPainter;

namespace vw {

class VWBaseShape;
class VWClassroomLink;
struct VWAnnoAction;

class VWBoard {
public:
  using ShapePtr = std::shared_ptr<VWBaseShape>;

  // The classroom gives the eraser the shared picture it paints back; may be null.
  explicit VWBoard(VWClassroomLink* classroom);

  // Building a shape from normalised points.
  void beginShape(const QPointF& point);
  void continueShape(const QPointF& point);
  void finishShape();

  const VWShapeProperty& pen() const { return pen_; }
  void setPen(const VWShapeProperty& pen);  // bounded
  void setShapeType(int shape);
  void setShapeWidth(int width);
  void setShapeColor(int red, int green, int blue, int alpha);

  QList<ShapePtr> shapeList() const { return shapeList_; }
  QList<ShapePtr> undoneList() const { return undoneList_; }
  ShapePtr currentShape() const { return currentShape_; }
  bool isDrawing() const { return drawing_; }

  void undoShape();
  void redoShape();
  void clearAllShape();
  // A shape or more points of the current stroke in the text form ("sharptype", "points",
  // "append", "sharpcolor", "sharpwidth").
  void addShape(const QMap<QString, QString>& mdata);
  // A finished shape as it travels to a member who asks for the board; false when not kept.
  bool addShapeObject(const QJsonObject& shape);
  // The finished shapes as shape objects, in drawing order.
  QJsonArray shapeObjects() const;

  // Carries out what a received board message asks of the board (points, pen, undo, clear, a
  // shape of the board); false for the actions that are not the board's (showing the canvas,
  // rights, sync answers, the phone).
  bool apply(const VWAnnoAction& action);

  // Draws every finished shape, then the one being drawn when it is not among them, on a
  // canvas of `canvas` pixels with the painter's origin at its top left corner.
  void paint(QPainter& painter, QSize canvas, int mode);

private:
  ShapePtr makeShape(int shapeType) const;
  bool appendToShapeList(const ShapePtr& shape);
  bool appendPoint(VWBaseShape* shape, const QPointF& point, bool countsOnBoard);

  VWClassroomLink* classroom_;
  VWShapeProperty pen_;
  ShapePtr currentShape_;
  bool drawing_ = false;
  QList<ShapePtr> shapeList_;
  QMutex shapeListMutex_;
  QList<ShapePtr> undoneList_;
  QMutex undoneListMutex_;
  int boardPoints_ = 0;  // points of the shapes in the shape list
};

// Points a free-hand or eraser shape holds; 0 for the other shapes.
int shapePointCount(const VWBaseShape* shape);

}  // namespace vw

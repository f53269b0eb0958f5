#include "VWBoard.h"

#include <QMutexLocker>
#include <QPainter>
#include <QStringList>
#include <cmath>
#include <optional>

#include "VWAnnoHandler.h"
#include "VWBaseShape.h"
#include "VWBounds.h"
#include "VWEraser.h"
#include "VWJsonRead.h"
#include "VWLines.h"
#include "VWShapeObject.h"

namespace vw {

namespace {

bool hasPointList(const VWBaseShape* shape) {
  return dynamic_cast<const VWLines*>(shape) || dynamic_cast<const VWEraser*>(shape);
}

// "x,y" -> point; nothing when it is not two numbers.
std::optional<QPointF> parsePair(const QString& text) {
  const QStringList xy = text.split(',');
  if (xy.size() != 2)
    return std::nullopt;
  bool okX = false, okY = false;
  const double x = xy[0].trimmed().toDouble(&okX);
  const double y = xy[1].trimmed().toDouble(&okY);
  if (!okX || !okY)
    return std::nullopt;
  return boundedPoint(QPointF(x, y));
}

std::optional<QPointF> readPoint(const QJsonValue& v) {
  if (!v.isObject())
    return std::nullopt;
  return pointOf(v.toObject());
}

// JSON integers arrive as doubles; anything else keeps the fallback.
int readInt(const QJsonValue& v, int fallback) {
  return intOf(v).value_or(fallback);
}

}  // namespace

int shapePointCount(const VWBaseShape* shape) {
  if (auto lines = dynamic_cast<const VWLines*>(shape))
    return lines->points().size();
  if (auto eraser = dynamic_cast<const VWEraser*>(shape))
    return eraser->points().size();
  return 0;
}

VWBoard::VWBoard(VWClassroomLink* classroom) : classroom_(classroom) {}

bool VWBoard::apply(const VWAnnoAction& action) {
  using A = VWAnnoAction;
  switch (action.kind) {
    case A::BeginShape:
      beginShape(action.point);
      return true;
    case A::ContinueShape:
      continueShape(action.point);
      return true;
    case A::FinishShape:
      finishShape();
      return true;
    case A::SetShape:
      setShapeType(action.value);
      return true;
    case A::UndoShape:
      undoShape();
      return true;
    case A::ClearAllShape:
      clearAllShape();
      return true;
    case A::SetShapeColor:
      setShapeColor(action.r, action.g, action.b, action.a);
      return true;
    case A::SetShapeWidth:
      setShapeWidth(action.value);
      return true;
    case A::SetPen:
      setPen(VWShapeProperty{action.value, action.r, action.g, action.b, action.a, action.width});
      return true;
    case A::RenderShape:
      addShapeObject(action.object);
      return true;
    default:
      return false;
  }
}

QJsonArray VWBoard::shapeObjects() const {
  QJsonArray objects;
  for (const ShapePtr& shape : shapeList_)
    objects.append(toShapeObject(*shape));
  return objects;
}

// ---- pen ----

void VWBoard::setPen(const VWShapeProperty& pen) {
  pen_ = boundedProperty(pen);
}

void VWBoard::setShapeType(int shape) {
  VWShapeProperty p = pen_;
  p.shapeType = shape;
  setPen(p);
}

void VWBoard::setShapeWidth(int width) {
  VWShapeProperty p = pen_;
  p.width = width;
  setPen(p);
}

void VWBoard::setShapeColor(int R, int G, int B, int A) {
  VWShapeProperty p = pen_;
  p.red = R;
  p.green = G;
  p.blue = B;
  p.alpha = A;
  setPen(p);
}

// ---- building shapes ----

VWBoard::ShapePtr VWBoard::makeShape(int shapeType) const {
  ShapePtr shape = VWBaseShape::create(shapeType, classroom_);
  if (shape) {
    VWShapeProperty style = pen_;
    style.shapeType = shapeType;  // the style names the shape's own kind
    shape->setProperty(style);
  }
  return shape;
}

bool VWBoard::appendPoint(VWBaseShape* shape, const QPointF& point, bool countsOnBoard) {
  const int points = shapePointCount(shape);
  if (points >= kMaxPointsPerShape)
    return false;
  // A stroke being drawn is counted against the board before it joins the list,
  // so finishing it can never push the board over its limit.
  const int pending = countsOnBoard ? 0 : points;
  if (boardPoints_ + pending + 1 > kMaxPointsPerBoard)
    return false;
  if (auto lines = dynamic_cast<VWLines*>(shape))
    lines->appendPoint(point);
  else if (auto eraser = dynamic_cast<VWEraser*>(shape))
    eraser->appendPoint(point);
  else
    return false;
  if (countsOnBoard)
    ++boardPoints_;
  return true;
}

bool VWBoard::appendToShapeList(const ShapePtr& shape) {
  const int points = shapePointCount(shape.get());
  if (shapeList_.size() >= kMaxShapesPerBoard || boardPoints_ + points > kMaxPointsPerBoard)
    return false;
  QMutexLocker lock(&shapeListMutex_);
  shapeList_.append(shape);
  boardPoints_ += points;
  return true;
}

void VWBoard::beginShape(const QPointF& point) {
  const auto p = boundedPoint(point);
  if (!p)
    return;
  if (drawing_)
    finishShape();
  currentShape_ = makeShape(pen_.shapeType);
  drawing_ = true;
  if (!currentShape_)
    return;
  currentShape_->setStartPoint(*p);
  currentShape_->setEndPoint(*p);
  if (hasPointList(currentShape_.get()))
    appendPoint(currentShape_.get(), *p, false);
}

void VWBoard::continueShape(const QPointF& point) {
  if (!currentShape_ || !drawing_)
    return;
  const auto p = boundedPoint(point);
  if (!p)
    return;
  // A stroke that reached its limit keeps its end where its last point is.
  if (hasPointList(currentShape_.get()) && !appendPoint(currentShape_.get(), *p, false))
    return;
  currentShape_->setEndPoint(*p);
}

void VWBoard::finishShape() {
  drawing_ = false;
  if (!currentShape_)
    return;
  const QPointF d = currentShape_->endPoint() - currentShape_->startPoint();
  if (std::fabs(d.x()) > 1e-12 || std::fabs(d.y()) > 1e-12) {
    if (!shapeList_.contains(currentShape_))
      appendToShapeList(currentShape_);
  }
}

// ---- undo, redo, clear ----

void VWBoard::undoShape() {
  if (!shapeList_.isEmpty()) {
    ShapePtr last = shapeList_.takeLast();
    boardPoints_ -= shapePointCount(last.get());
    QMutexLocker lock(&undoneListMutex_);
    undoneList_.append(last);
    if (undoneList_.size() > kMaxUndoneShapes)
      undoneList_.removeFirst();
  }
  currentShape_.reset();
}

void VWBoard::redoShape() {
  if (undoneList_.isEmpty())
    return;
  // A shape that no longer fits on the board stays undone.
  if (appendToShapeList(undoneList_.last()))
    undoneList_.removeLast();
}

void VWBoard::clearAllShape() {
  shapeList_.clear();
  undoneList_.clear();
  boardPoints_ = 0;
  currentShape_.reset();
}

// ---- shapes from text and from shape objects ----

void VWBoard::addShape(const QMap<QString, QString>& mdata) {
  if (mdata.contains("sharpcolor")) {
    const QStringList rgba = mdata.value("sharpcolor").split(',');
    int c[4];
    bool ok = rgba.size() == 4;
    for (int i = 0; ok && i < 4; ++i)
      c[i] = rgba[i].trimmed().toInt(&ok);
    if (ok)
      setShapeColor(c[0], c[1], c[2], c[3]);
  }
  if (mdata.contains("sharpwidth")) {
    bool ok = false;
    const int width = mdata.value("sharpwidth").trimmed().toInt(&ok);
    if (ok)
      setShapeWidth(width);
  }

  const QStringList pairs = mdata.value("points").split('|', Qt::SkipEmptyParts);
  if (mdata.value("append") == "true") {
    if ((pen_.shapeType != 1 && pen_.shapeType != 7) || !currentShape_ ||
        !hasPointList(currentShape_.get()))
      return;
    const bool inList = shapeList_.contains(currentShape_);
    for (const QString& pair : pairs) {
      const auto p = parsePair(pair);
      if (p && !appendPoint(currentShape_.get(), *p, inList))
        break;
    }
    return;
  }

  if (pairs.size() != 2)
    return;
  const auto start = parsePair(pairs[0]);
  const auto end = parsePair(pairs[1]);
  bool typeOk = false;
  const int type = mdata.value("sharptype").trimmed().toInt(&typeOk);
  if (!start || !end || !typeOk)
    return;
  ShapePtr shape = makeShape(type);
  if (!shape)
    return;
  shape->setStartPoint(*start);
  shape->setEndPoint(*end);
  if (hasPointList(shape.get()))
    appendPoint(shape.get(), *end, false);
  if (!appendToShapeList(shape))
    return;
  currentShape_ = shape;
}

bool VWBoard::addShapeObject(const QJsonObject& object) {
  const QJsonValue colour = object.value("shapeColor");
  if (colour.isObject()) {
    const QJsonObject c = colour.toObject();
    setShapeColor(readInt(c.value("r"), pen_.red), readInt(c.value("g"), pen_.green),
                  readInt(c.value("b"), pen_.blue), readInt(c.value("a"), pen_.alpha));
  }
  if (object.contains("lineWidth"))
    setShapeWidth(readInt(object.value("lineWidth"), pen_.width));

  const int type = readInt(object.value("shapeType"), 0);
  ShapePtr shape = makeShape(type);
  if (!shape)
    return false;
  const QJsonArray points = object.value("points").toArray();
  if (hasPointList(shape.get())) {
    int read = 0;
    for (const QJsonValue& v : points) {
      if (read >= kMaxPointsPerShape)
        break;
      const auto p = readPoint(v);
      if (!p)
        continue;
      if (read == 0)
        shape->setStartPoint(*p);
      shape->setEndPoint(*p);
      if (!appendPoint(shape.get(), *p, false))
        break;
      ++read;
    }
    if (read == 0)
      return false;
  } else {
    if (points.size() < 2)
      return false;
    const auto start = readPoint(points[0]);
    const auto end = readPoint(points[1]);
    if (!start || !end)
      return false;
    shape->setStartPoint(*start);
    shape->setEndPoint(*end);
  }
  return appendToShapeList(shape);
}

// ---- painting ----

void VWBoard::paint(QPainter& painter, QSize canvas, int mode) {
  const QList<ShapePtr> shapes = shapeList_;
  for (const ShapePtr& shape : shapes)
    shape->draw(&painter, canvas, mode);
  // The last finished shape usually is the current one too; drawn twice, a translucent shape
  // would darken until the next one starts.
  if (currentShape_ && !shapes.contains(currentShape_))
    currentShape_->draw(&painter, canvas, mode);
}

}  // namespace vw

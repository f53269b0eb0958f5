#include "VWPaintWidget.h"

#include <QDebug>
#include <QMouseEvent>
#include <QMutexLocker>
#include <QPainter>
#include <QStringList>
#include <cmath>
#include <cstring>

#include "VWBaseShape.h"
#include "VWBounds.h"
#include "VWAnnoHandler.h"
#include "VWClassroomLink.h"
#include "VWJsonRead.h"
#include "VWEraser.h"
#include "VWLines.h"
#include "VWPaintInfoSendThead.h"
#include "VWShapeObject.h"
#include "RoomMessageTypes.h"

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

VWPaintWidget::VWPaintWidget(QWidget* parent, VWClassroomLink* classroom)
    : QWidget(parent),
      classroom_(classroom),
      sendThread_(std::make_unique<VWPaintInfoSendThead>(classroom)) {
  VWShapeProperty::registerMetaType();
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

VWPaintWidget::~VWPaintWidget() {
  strokeList_.clear();
  sendThread_.reset();
}

void VWPaintWidget::broadcast(const QJsonObject& msg) {
  if (classroom_)
    classroom_->forwardToPhone(msg);
  sendThread_->enqueue(msg);
}

int VWPaintWidget::pendingSends() const { return sendThread_->pending(); }

bool VWPaintWidget::apply(const VWAnnoAction& action) {
  using A = VWAnnoAction;
  switch (action.kind) {
    case A::BeginShape:
      beginShape(action.point);
      update();
      return true;
    case A::ContinueShape:
      continueShape(action.point);
      return true;
    case A::FinishShape:
      finishShape();
      update();
      return true;
    case A::SetShape:
      setShape(action.value);
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
      setShape(action.value, action.width, action.r, action.g, action.b, action.a);
      return true;
    case A::ShowCanvas:
      show();
      return true;
    case A::RenderShape: {
      show();
      raise();
      QJsonObject shape = action.object;
      renderOneShape(shape);
      return true;
    }
    default:
      return false;
  }
}

QJsonArray VWPaintWidget::shapeObjects() const {
  QJsonArray objects;
  for (const ShapePtr& shape : shapeList_)
    objects.append(toShapeObject(*shape));
  return objects;
}

// ---- pen ----

void VWPaintWidget::setPen(const VWShapeProperty& pen) {
  const VWShapeProperty bounded = boundedProperty(pen);
  if (pen_ != bounded)
    pen_ = bounded;
}

void VWPaintWidget::setCurrentShape(QVariant& vwp) { setPen(VWShapeProperty::fromVariant(vwp)); }

void VWPaintWidget::SetPaintState(bool state) { paintState_ = state; }

void VWPaintWidget::SetRoleState(int state) { roleState_ = state; }

void VWPaintWidget::setShape(int shape) {
  VWShapeProperty p = pen_;
  p.shapeType = shape;
  setPen(p);
  // The tool notice: a string type, which the others' room dispatch passes
  // over. Only the member who draws sends it; a canvas replaying somebody
  // else's choice would only multiply it by the size of the room.
  if (classroom_ && classroom_->ownsAnnotation()) {
    const QJsonObject notice{{KEY_TYPE_ID, QStringLiteral("103")},
                             {KEY_SEND_USER_ID, double(classroom_->ownUserId())},
                             {KEY_CONTENT, QString::number(shape)}};
    broadcast(notice);
  }
}

void VWPaintWidget::setShape(int shape, int width, int R, int G, int B, int A) {
  setPen(VWShapeProperty{shape, R, G, B, A, width});
}

void VWPaintWidget::setShapeWidth(int width) {
  VWShapeProperty p = pen_;
  p.width = width;
  setPen(p);
}

void VWPaintWidget::setShapeColor(int R, int G, int B, int A) {
  VWShapeProperty p = pen_;
  p.red = R;
  p.green = G;
  p.blue = B;
  p.alpha = A;
  setPen(p);
}

// ---- building shapes ----

VWPaintWidget::ShapePtr VWPaintWidget::makeShape(int shapeType) const {
  ShapePtr shape = VWBaseShape::create(shapeType, classroom_);
  if (shape) {
    VWShapeProperty style = pen_;
    style.shapeType = shapeType;  // the style names the shape's own kind
    shape->setProperty(style);
  }
  return shape;
}

bool VWPaintWidget::appendPoint(VWBaseShape* shape, const QPointF& point, bool countsOnBoard) {
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

bool VWPaintWidget::appendToShapeList(const ShapePtr& shape) {
  const int points = shapePointCount(shape.get());
  if (shapeList_.size() >= kMaxShapesPerBoard || boardPoints_ + points > kMaxPointsPerBoard)
    return false;
  QMutexLocker lock(&shapeListMutex_);
  shapeList_.append(shape);
  boardPoints_ += points;
  return true;
}

void VWPaintWidget::beginShape(const QPointF& point) {
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

void VWPaintWidget::continueShape(const QPointF& point) {
  if (!currentShape_ || !drawing_)
    return;
  const auto p = boundedPoint(point);
  if (!p)
    return;
  // A stroke that reached its limit keeps its end where its last point is.
  if (hasPointList(currentShape_.get()) && !appendPoint(currentShape_.get(), *p, false))
    return;
  currentShape_->setEndPoint(*p);
  update();
}

void VWPaintWidget::finishShape() {
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

void VWPaintWidget::undoShape() {
  if (!shapeList_.isEmpty()) {
    ShapePtr last = shapeList_.takeLast();
    boardPoints_ -= shapePointCount(last.get());
    QMutexLocker lock(&undoneListMutex_);
    undoneList_.append(last);
    if (undoneList_.size() > kMaxUndoneShapes)
      undoneList_.removeFirst();
  }
  currentShape_.reset();
  update();
}

void VWPaintWidget::redoShape() {
  if (undoneList_.isEmpty())
    return;
  // A shape that no longer fits on the board stays undone.
  if (appendToShapeList(undoneList_.last()))
    undoneList_.removeLast();
}

void VWPaintWidget::clearAllShape() {
  shapeList_.clear();
  undoneList_.clear();
  boardPoints_ = 0;
  currentShape_.reset();
  update();
}

// ---- shapes from text and from shape objects ----

void VWPaintWidget::addShape(QMap<QString, QString> mdata) {
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
    update();
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
  update();
}

bool VWPaintWidget::addOneShapeObject(const QJsonObject& object) {
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

void VWPaintWidget::initShapeList(QJsonArray& shapes) {
  for (const QJsonValue& v : shapes) {
    if (v.isObject())
      addOneShapeObject(v.toObject());
  }
  update();
}

void VWPaintWidget::renderOneShape(QJsonObject& shape) {
  addOneShapeObject(shape);
  update();
}

// ---- painting ----

void VWPaintWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setBrush(Qt::transparent);
  painter.drawLine(0, 0, 0, height() - 1);

  if (markPixmap_.isNull())
    markPixmap_ = QPixmap(size());
  QPainter markPainter;
  if (!markPixmap_.isNull()) {
    markPixmap_.fill(QColor(0, 0, 0, 0));
    markPainter.begin(&markPixmap_);
    markPainter.setBrush(Qt::transparent);
  }

  const QSize canvas = size();
  const QList<ShapePtr> shapes = shapeList_;
  auto drawBoth = [&](const ShapePtr& shape) {
    shape->draw(&painter, canvas, roleState_);
    if (markPainter.isActive())
      shape->draw(&markPainter, canvas, roleState_);
  };
  for (const ShapePtr& shape : shapes)
    drawBoth(shape);
  // The last finished shape usually is the current one too; drawn twice, a
  // translucent shape would darken until the next one starts.
  if (currentShape_ && !shapes.contains(currentShape_))
    drawBoth(currentShape_);
}

void VWPaintWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (markPixmap_.isNull())
    markPixmap_ = QPixmap(size());
}

int VWPaintWidget::getMarkBit(uint8_t* data, int& width, int& height, int& len) {
  qDebug() << "00001";
  if (!markPixmap_.isNull())
    markImage_ = markPixmap_.toImage();
  if (markImage_.isNull())
    return 0;
  QImage scaled =
      markImage_.scaled(1920, 1080, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  if (scaled.isNull())
    return 0;
  if (scaled.depth() != 32)
    scaled = scaled.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  qDebug() << "00002";
  width = scaled.width();
  height = scaled.height();
  len = int(scaled.sizeInBytes());
  if (data)
    std::memcpy(data, scaled.constBits(), size_t(len));
  return 0;
}

// ---- local pointer input ----

QJsonObject VWPaintWidget::pointMessage(int phase, const QPointF* point) const {
  QJsonObject msg{{KEY_TYPE_ID, ANNO_POINT},
                  {KEY_SEND_USER_ID, double(classroom_ ? classroom_->ownUserId() : 0)},
                  {KEY_CONTENT, phase}};
  if (point) {
    msg.insert("x", point->x());
    msg.insert("y", point->y());
  }
  return msg;
}

// Only the holder of the board-writing right draws; everybody else's canvas
// replays what the holder sends.
void VWPaintWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || width() <= 0 || height() <= 0 || !classroom_ ||
      !classroom_->ownsAnnotation())
    return;
  // Unclamped: a press may lie just outside when the canvas grabbed the mouse.
  const QPointF p(event->localPos().x() / width(), event->localPos().y() / height());
  beginShape(p);
  strokeList_.clear();  // a stroke that was never released is dropped
  strokeList_.push_back(pointMessage(1, &p));
  captureState_ = 1;
  update();
}

void VWPaintWidget::mouseMoveEvent(QMouseEvent* event) {
  if (width() <= 0 || height() <= 0 || captureState_ != 1 || !classroom_ ||
      !classroom_->ownsAnnotation())
    return;
  const QPointF p(qBound(0.0, event->localPos().x() / width(), 1.0),
                  qBound(0.0, event->localPos().y() / height(), 1.0));
  continueShape(p);
  // The stroke travels as far as the canvas keeps it.
  if (strokeList_.size() < size_t(kMaxPointsPerShape) + 1)
    strokeList_.push_back(pointMessage(2, &p));
}

void VWPaintWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || captureState_ != 1)
    return;
  finishShape();
  update();
  captureState_ = 2;
  strokeList_.push_back(pointMessage(3, nullptr));
  std::vector<QJsonObject> stroke;
  stroke.swap(strokeList_);
  // A press and a release alone draw nothing anywhere.
  if (stroke.size() < 3)
    return;
  for (QJsonObject& msg : stroke) {
    if (classroom_)
      classroom_->forwardToPhone(msg);
    sendThread_->enqueue(std::make_unique<QJsonObject>(std::move(msg)));
  }
}

}  // namespace vw

#include "VWPaintWidget.h"

#include <QDebug>
#include <QMouseEvent>
#include <QMutexLocker>
#include <QPainter>
#include <QStringList>
#include <cmath>
#include <cstring>

#include "RoomMessageTypes.h"
#include "VWAnnoHandler.h"
#include "VWBaseShape.h"
#include "VWBounds.h"
#include "VWClassroomLink.h"
#include "VWEraser.h"
#include "VWJsonRead.h"
#include "VWLines.h"
#include "VWPaintInfoSendThead.h"
#include "VWShapeObject.h"

namespace vw {

VWPaintWidget::VWPaintWidget(QWidget* parent, VWClassroomLink* classroom)
    : QWidget(parent),
      board_(classroom),
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

int VWPaintWidget::pendingSends() const {
  return sendThread_->pending();
}

bool VWPaintWidget::apply(const VWAnnoAction& action) {
  using A = VWAnnoAction;
  switch (action.kind) {
    case A::SetShape:
      setShape(action.value);
      return true;
    case A::ShowCanvas:
      show();
      return true;
    case A::RenderShape:
      show();
      raise();
      board_.addShapeObject(action.object);
      update();
      return true;
    default:
      if (!board_.apply(action))
        return false;
      update();
      return true;
  }
}

QJsonArray VWPaintWidget::shapeObjects() const {
  return board_.shapeObjects();
}

// ---- pen ----

void VWPaintWidget::setCurrentShape(QVariant& vwp) {
  board_.setPen(VWShapeProperty::fromVariant(vwp));
}

void VWPaintWidget::SetPaintState(bool state) {
  paintState_ = state;
}

void VWPaintWidget::SetRoleState(int state) {
  roleState_ = state;
}

void VWPaintWidget::setShape(int shape) {
  board_.setShapeType(shape);
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
  board_.setPen(VWShapeProperty{shape, R, G, B, A, width});
}

void VWPaintWidget::setShapeWidth(int width) {
  board_.setShapeWidth(width);
}

void VWPaintWidget::setShapeColor(int R, int G, int B, int A) {
  board_.setShapeColor(R, G, B, A);
}

// ---- the board ----

void VWPaintWidget::beginShape(const QPointF& point) {
  board_.beginShape(point);
}

void VWPaintWidget::continueShape(const QPointF& point) {
  board_.continueShape(point);
  update();
}

void VWPaintWidget::finishShape() {
  board_.finishShape();
}

void VWPaintWidget::undoShape() {
  board_.undoShape();
  update();
}

void VWPaintWidget::redoShape() {
  board_.redoShape();
}

void VWPaintWidget::clearAllShape() {
  board_.clearAllShape();
  update();
}

void VWPaintWidget::addShape(QMap<QString, QString> mdata) {
  board_.addShape(mdata);
  update();
}

void VWPaintWidget::initShapeList(QJsonArray& shapes) {
  for (const QJsonValue& v : shapes) {
    if (v.isObject())
      board_.addShapeObject(v.toObject());
  }
  update();
}

void VWPaintWidget::renderOneShape(QJsonObject& shape) {
  board_.addShapeObject(shape);
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

  board_.paint(painter, size(), roleState_);
  if (markPainter.isActive())
    board_.paint(markPainter, size(), roleState_);
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
  QImage scaled = markImage_.scaled(1920, 1080, Qt::IgnoreAspectRatio, Qt::FastTransformation);
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

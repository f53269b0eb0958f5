#include "PicRenderWidget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "ShareRules.h"

static_assert(int(PicRenderWidget::kStretch) == share::kStretched &&
                  int(PicRenderWidget::kFit) == share::kFitted &&
                  int(PicRenderWidget::kActual) == share::kAtActualSize,
              "the widget's placements are the shared area's rules");

PicRenderWidget::PicRenderWidget(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("sharedArea"));
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  setMinimumSize(480, 300);
}

void PicRenderWidget::setPicture(const QPixmap& picture, Placement placement) {
  picture_ = picture;
  placement_ = placement;
  place();
  update();
}

QPixmap PicRenderWidget::shownPixmap() const {
  if (picture_.isNull() || pictureRect_.isEmpty())
    return QPixmap();
  if (pictureRect_.size() == picture_.size())
    return picture_;
  return picture_.scaled(pictureRect_.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void PicRenderWidget::place() {
  const QRect placed =
      picture_.isNull() ? QRect()
                        : share::placedRect(share::Placement(placement_), picture_.size(), size());
  if (placed != pictureRect_) {
    pictureRect_ = placed;
    emit pictureRectChanged(placed);
  }
}

void PicRenderWidget::paintEvent(QPaintEvent*) {
  if (picture_.isNull() || pictureRect_.isEmpty())
    return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (placement_ == kActual) {
    // The part of the picture that lies in the widget, unscaled.
    const QPoint origin((width() - picture_.width()) / 2, (height() - picture_.height()) / 2);
    painter.drawPixmap(pictureRect_, picture_, pictureRect_.translated(-origin));
  } else {
    painter.drawPixmap(pictureRect_, picture_);
  }
}

void PicRenderWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  place();
  emit _resize(width(), height());
}

bool PicRenderWidget::steering() const {
  return controlling_ && placement_ == kActual && !picture_.isNull();
}

void PicRenderWidget::mousePressEvent(QMouseEvent* event) {
  if (!steering() || event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  dragging_ = true;
  last_ = event->pos();
  emit _mousePress();
}

void PicRenderWidget::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_ || !steering()) {
    QWidget::mouseMoveEvent(event);
    return;
  }
  const QPoint step = event->pos() - last_;
  last_ = event->pos();
  if (canvasShown_ && canvasShown_())
    return;
  if (!step.isNull())
    emit _mouseMove(step.x(), step.y());
}

void PicRenderWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  dragging_ = false;
  emit _mouseRelease();
}

void PicRenderWidget::wheelEvent(QWheelEvent* event) {
  if (!steering() || event->angleDelta().y() == 0) {
    QWidget::wheelEvent(event);
    return;
  }
  // Turning the wheel towards oneself shows what lies further down.
  const int step = qMax(1, pictureRect_.height() / 10);
  emit _mouseMove(0, event->angleDelta().y() > 0 ? step : -step);
  event->accept();
}

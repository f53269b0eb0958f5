#include "CoursewareRenderWidget.h"

#include <QMouseEvent>
#include <QPainter>

CoursewareRenderWidget::CoursewareRenderWidget(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("coursewareRender"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(320, 180);
}

void CoursewareRenderWidget::setFrame(const QImage& frame) {
  frame_ = frame;
  update();
}

void CoursewareRenderWidget::clear() {
  frame_ = QImage();
  update();
}

void CoursewareRenderWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (frame_.isNull())
    return;
  // Pictures arrive already scaled to fit; one made for an older size is fitted again.
  QSize size = frame_.size();
  if (size.width() > width() || size.height() > height() ||
      (size.width() < width() && size.height() < height()))
    size.scale(this->size(), Qt::KeepAspectRatio);
  const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
  painter.drawImage(target, frame_);
}

void CoursewareRenderWidget::resizeEvent(QResizeEvent* event) {
  width_ = width();
  height_ = height();
  QWidget::resizeEvent(event);
}

void CoursewareRenderWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    emit signal_doubleClicked();
  QWidget::mouseDoubleClickEvent(event);
}

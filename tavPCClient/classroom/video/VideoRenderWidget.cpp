#include "VideoRenderWidget.h"

#include <QDebug>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

VideoRenderWidget::VideoRenderWidget(QWidget* parent) : QLabel(parent) {
  setObjectName(QStringLiteral("VideoRenderWidget"));
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(QStringLiteral("QLabel#VideoRenderWidget { background-color: #1f2229; }"));
  setMinimumSize(1, 1);
}

bool VideoRenderWidget::showFrame(const uint8_t* pixels, int width, int height) {
  if (!pixels || width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide) {
    qWarning() << "VideoRenderWidget::showFrame: refused frame" << width << "x" << height;
    return false;
  }
  const QImage image(pixels, width, height, width * 3, QImage::Format_RGB888);
  if (image.isNull()) {
    qWarning() << "Classroom::slot_onVideoFrameArrived:image.isNull()";
    return false;
  }
  // convertToFormat always copies here (the formats differ), so nothing below
  // keeps pointing into the library's buffer.
  QImage owned = image.convertToFormat(QImage::Format_RGB32);
  if (size().width() > 0 && size().height() > 0)
    owned = owned.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  const QPixmap pix = QPixmap::fromImage(owned);
  if (pix.isNull()) {
    qWarning() << "Classroom::slot_onVideoFrameArrived:pix.isNull()";
    return false;
  }
  m_pixmap = pix;
  update();
  return true;
}

void VideoRenderWidget::setHeldPixmap(const QPixmap& pixmap) {
  m_pixmap = pixmap;
  update();
}

void VideoRenderWidget::clear() {
  m_pixmap = QPixmap();
  QLabel::clear();
  update();
}

void VideoRenderWidget::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (m_pixmap.isNull())
    return;
  QPainter painter(this);
  painter.drawPixmap(0, 0, m_pixmap);
}

void VideoRenderWidget::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  if (!m_pixmap.isNull() && width() > 0 && height() > 0)
    m_pixmap = m_pixmap.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void VideoRenderWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    emit signal_DoubleClick();
  QLabel::mouseDoubleClickEvent(event);
}

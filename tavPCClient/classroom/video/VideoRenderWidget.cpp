#include "VideoRenderWidget.h"

#include <QDebug>
#include <QMouseEvent>
#include <QPainter>
#include <cstring>

VideoRenderWidget::VideoRenderWidget(QWidget* parent) : QLabel(parent) {
  setObjectName(QStringLiteral("VideoRenderWidget"));
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(QStringLiteral("QLabel#VideoRenderWidget { background-color: #1f2229; }"));
  setMinimumSize(1, 1);
}

bool VideoRenderWidget::showFrame(const uint8_t* pixels, int width, int height,
                                  int bytesPerPixel) {
  if (!pixels || width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide ||
      (bytesPerPixel != 3 && bytesPerPixel != 4)) {
    qWarning() << "VideoRenderWidget::showFrame: refused frame" << width << "x" << height;
    return false;
  }
  if (bytesPerPixel == 4) {
    // Already in the painted layout: one copy into the held frame, whose
    // buffer is reused while the size stays.
    if (m_frame.size() != QSize(width, height) || m_frame.format() != QImage::Format_RGB32)
      m_frame = QImage(width, height, QImage::Format_RGB32);
    if (m_frame.isNull()) {
      qWarning() << "Classroom::slot_onVideoFrameArrived:image.isNull()";
      return false;
    }
    // One detach for the whole picture: scanLine() detaches on every row, and a
    // painted image runs Qt's cache hooks on each detach.
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    uchar* target = m_frame.bits();
    const size_t stride = static_cast<size_t>(m_frame.bytesPerLine());
    if (stride == rowBytes) {
      std::memcpy(target, pixels, rowBytes * static_cast<size_t>(height));
    } else {
      for (int y = 0; y < height; ++y)
        std::memcpy(target + y * stride, pixels + y * rowBytes, rowBytes);
    }
  } else {
    const QImage wrapped(pixels, width, height, width * 3, QImage::Format_RGB888);
    if (wrapped.isNull()) {
      qWarning() << "Classroom::slot_onVideoFrameArrived:image.isNull()";
      return false;
    }
    m_frame = wrapped.convertToFormat(QImage::Format_RGB32);  // a copy
  }
  update();
  return true;
}

QRect VideoRenderWidget::frameRect() const {
  if (m_frame.isNull() || width() <= 0 || height() <= 0)
    return QRect();
  const QSize fitted = m_frame.size().scaled(size(), Qt::KeepAspectRatio);
  return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

void VideoRenderWidget::clear() {
  m_frame = QImage();
  QLabel::clear();
  update();
}

void VideoRenderWidget::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  const QRect target = frameRect();
  if (target.isEmpty())
    return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, m_frame);
}

void VideoRenderWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton)
    emit signal_DoubleClick();
  QLabel::mouseDoubleClickEvent(event);
}

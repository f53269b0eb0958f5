#include "MarqueeLabel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace {
// Room between the end of the text and its next start, as the text comes round.
constexpr int kGapPx = 40;
}  // namespace

MarqueeLabel::MarqueeLabel(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  connect(timer_, &QTimer::timeout, this, &MarqueeLabel::step);
}

void MarqueeLabel::setText(const QString& text) {
  if (text == text_)
    return;
  text_ = text;
  updateGeometry();
  restart();
}

void MarqueeLabel::setClickable(bool clickable) {
  clickable_ = clickable;
  setCursor(clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

int MarqueeLabel::textWidth() const {
  return fontMetrics().horizontalAdvance(text_);
}

bool MarqueeLabel::running() const {
  return textWidth() > width();
}

QSize MarqueeLabel::sizeHint() const {
  return QSize(textWidth() + 4, fontMetrics().height() + 4);
}

QSize MarqueeLabel::minimumSizeHint() const {
  return QSize(40, fontMetrics().height() + 4);
}

void MarqueeLabel::restart() {
  offset_ = 0;
  timer_->stop();
  if (running())
    // It rests where it starts, so the beginning can be read, then runs.
    QTimer::singleShot(kRestMs, this, [this] {
      if (running() && offset_ == 0)
        timer_->start(kStepMs);
    });
  update();
}

void MarqueeLabel::step() {
  const int period = textWidth() + kGapPx;
  offset_ = (offset_ + kStepPx) % period;
  if (offset_ == 0) {
    // Round once: rest at the start again.
    timer_->stop();
    QTimer::singleShot(kRestMs, this, [this] {
      if (running() && offset_ == 0)
        timer_->start(kStepMs);
    });
  }
  update();
}

void MarqueeLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(foregroundRole()));
  painter.setFont(font());
  const QRect area = rect();
  if (!running()) {
    painter.drawText(area, Qt::AlignVCenter | Qt::AlignLeft, text_);
    return;
  }
  const int period = textWidth() + kGapPx;
  painter.setClipRect(area);
  painter.drawText(area.translated(-offset_, 0), Qt::AlignVCenter | Qt::AlignLeft, text_);
  painter.drawText(area.translated(period - offset_, 0), Qt::AlignVCenter | Qt::AlignLeft, text_);
}

void MarqueeLabel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  restart();
}

void MarqueeLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (clickable_ && event->button() == Qt::LeftButton && rect().contains(event->pos()))
    emit clicked();
  QWidget::mouseReleaseEvent(event);
}

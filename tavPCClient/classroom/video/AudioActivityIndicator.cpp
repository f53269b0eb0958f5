#include "AudioActivityIndicator.h"

#include <QPainter>
#include <QTimer>

namespace {
// Bar heights in eighths of the widget, one row per animation step.
constexpr int kSteps = 6;
constexpr int kHeights[kSteps][3] = {{3, 6, 4}, {5, 8, 3}, {7, 5, 6},
                                     {4, 3, 8}, {6, 7, 5}, {2, 5, 7}};
}  // namespace

AudioActivityIndicator::AudioActivityIndicator(QWidget* parent)
    : QWidget(parent), m_timer(new QTimer(this)) {
  setFixedSize(sizeHint());
  setAttribute(Qt::WA_TransparentForMouseEvents);
  m_timer->setInterval(150);
  connect(m_timer, &QTimer::timeout, this, [this] {
    m_phase = (m_phase + 1) % kSteps;
    update();
  });
  hide();
}

void AudioActivityIndicator::setActive(bool active) {
  m_active = active;
  setVisible(active);
  if (active)
    m_timer->start();
  else
    m_timer->stop();
}

void AudioActivityIndicator::paintEvent(QPaintEvent*) {
  if (!m_active)
    return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(82, 196, 120));
  const qreal barWidth = width() / 5.0;
  for (int i = 0; i < 3; ++i) {
    const qreal h = height() * kHeights[m_phase][i] / 8.0;
    painter.drawRoundedRect(QRectF(barWidth * (2 * i), height() - h, barWidth, h), 1, 1);
  }
}

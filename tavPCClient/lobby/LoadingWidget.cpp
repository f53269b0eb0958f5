#include "LoadingWidget.h"

#include <QPainter>
#include <QTimer>

LoadingWidget::LoadingWidget(const QString& text, QWidget* parent)
    : QWidget(parent), text_(text), timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("LoadingWidget"));
  timer_->setInterval(40);
  connect(timer_, &QTimer::timeout, this, [this] {
    angle_ = (angle_ + 12) % 360;
    update();
  });
  hide();
}

void LoadingWidget::start() {
  if (parentWidget())
    setGeometry(parentWidget()->rect());
  show();
  raise();
  timer_->start();
}

void LoadingWidget::stop() {
  timer_->stop();
  hide();
}

void LoadingWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(rect(), QColor(255, 255, 255, 170));
  const QPoint centre = rect().center() - QPoint(0, 16);
  const QRect ring(centre - QPoint(20, 20), QSize(40, 40));
  painter.setPen(QPen(QColor(0xe3, 0xe8, 0xee), 4));
  painter.drawEllipse(ring);
  painter.setPen(QPen(QColor(0x2d, 0x8c, 0xf0), 4, Qt::SolidLine, Qt::RoundCap));
  painter.drawArc(ring, -angle_ * 16, 100 * 16);
  painter.setPen(QColor(0x2d, 0x8c, 0xf0));
  painter.drawText(QRect(0, centre.y() + 30, width(), 24), Qt::AlignCenter, text_);
}

#include "GiftEffectArea.h"

#include <QEvent>
#include <QPropertyAnimation>
#include <QTimer>
#include <QVBoxLayout>

#include "GiftEffectWidget.h"

GiftEffectArea::GiftEffectArea(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
  setObjectName(QStringLiteral("giftEffectArea"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  layout_->setContentsMargins(9, 0, 0, 0);
  layout_->setSpacing(6);
  layout_->addStretch(1);
  hide();
  if (parent) {
    parent->installEventFilter(this);
    setGeometry(0, 0, GiftEffectWidget::kWidth + 20, parent->height());
  }
}

bool GiftEffectArea::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parent() && event->type() == QEvent::Resize)
    setGeometry(0, 0, GiftEffectWidget::kWidth + 20, parentWidget()->height());
  return QWidget::eventFilter(watched, event);
}

void GiftEffectArea::showEffect(GiftEffectWidget* effect) {
  effect->setParent(this);
  effect->hide();
  connect(effect, &GiftEffectWidget::signalhidden, this, &GiftEffectArea::giftEffectWidget_hidden);
  if (visible_ >= kMaxVisible) {
    waiting_.enqueue(effect);
    return;
  }
  start(effect);
}

void GiftEffectArea::start(GiftEffectWidget* effect) {
  ++visible_;
  shown_.append(effect);
  show();
  raise();
  effect->move(9, 550);
  effect->show();
  // The slide runs on its own; the effect joins the column when it arrives
  // and leaves 3 s later.
  auto* slide = new QPropertyAnimation(effect, "pos", effect);
  slide->setDuration(kSlideMs);
  slide->setStartValue(QPoint(9, 550));
  slide->setEndValue(QPoint(9, 250));
  connect(slide, &QPropertyAnimation::finished, effect, [this, effect] {
    layout_->addWidget(effect);
    QTimer::singleShot(kShowMs, effect, &GiftEffectWidget::onHide);
  });
  slide->start(QAbstractAnimation::DeleteWhenStopped);
}

void GiftEffectArea::giftEffectWidget_hidden(GiftEffectWidget* effect) {
  if (!shown_.removeOne(effect))
    return;
  layout_->removeWidget(effect);
  effect->deleteLater();
  --visible_;
  if (visible_ == 0)
    hide();
  if (!waiting_.isEmpty() && visible_ < kMaxVisible)
    start(waiting_.dequeue());
}

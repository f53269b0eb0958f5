#include "PagingWidget.h"

#include <QHBoxLayout>
#include <QPushButton>

PagingWidget::PagingWidget(QWidget* parent)
    : QWidget(parent),
      layout_(new QHBoxLayout(this)),
      more_(new QPushButton(QStringLiteral("…"), this)) {
  setObjectName(QStringLiteral("PagingWidget"));
  layout_->setContentsMargins(0, 0, 0, 0);
  layout_->setSpacing(6);
  layout_->addStretch();
  for (int i = 0; i < kVisibleButtons; ++i) {
    auto* button = new QPushButton(this);
    button->setObjectName(QStringLiteral("pageButton"));
    button->setCheckable(true);
    button->setFixedSize(30, 28);
    button->setCursor(Qt::PointingHandCursor);
    connect(button, &QPushButton::clicked, this,
            [this, button] { slot_SelectPage(button->text().toUInt()); });
    buttons_ << button;
    layout_->addWidget(button);
  }
  more_->setObjectName(QStringLiteral("pageButton"));
  more_->setFixedSize(30, 28);
  more_->setCursor(Qt::PointingHandCursor);
  connect(more_, &QPushButton::clicked, this, &PagingWidget::slot_ButtonMore);
  layout_->addWidget(more_);
  layout_->addStretch();
  rebuild();
}

void PagingWidget::setPageCount(uint count) {
  count_ = count;
  current_ = count > 0 ? 1 : 0;
  first_ = 1;
  rebuild();
}

QList<uint> PagingWidget::shownPages() const {
  QList<uint> pages;
  for (QPushButton* b : buttons_)
    if (!b->isHidden())
      pages << b->text().toUInt();
  return pages;
}

void PagingWidget::slot_SelectPage(uint page) {
  if (page < 1 || page > count_)
    return;
  current_ = page;
  rebuild();
  emit signal_SendPageMark(page);
}

void PagingWidget::slot_ButtonMore() {
  // The window moves on to the pages after the last one shown and selects the
  // first of them; past the end it wraps to the start.
  uint next = first_ + kVisibleButtons;
  if (next > count_)
    next = 1;
  first_ = next;
  slot_SelectPage(next);
}

void PagingWidget::rebuild() {
  if (current_ >= 1 && (current_ < first_ || current_ >= first_ + kVisibleButtons))
    first_ = ((current_ - 1) / kVisibleButtons) * kVisibleButtons + 1;
  for (int i = 0; i < kVisibleButtons; ++i) {
    const uint page = first_ + static_cast<uint>(i);
    QPushButton* b = buttons_[i];
    b->setVisible(page <= count_ && count_ > 1);
    b->setText(QString::number(page));
    b->setChecked(page == current_);
  }
  more_->setVisible(count_ > static_cast<uint>(kVisibleButtons));
}

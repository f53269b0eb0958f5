#include "SidePanel.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

SidePanel::SidePanel(QWidget* parent)
    : QWidget(parent),
      group_(new QButtonGroup(this)),
      pages_(new QStackedWidget(this)),
      notice_(new QLabel(QStringLiteral("有新消息"), this)),
      dot_(new QLabel(this)) {
  dot_->setObjectName(QStringLiteral("newMessageMark"));
  dot_->setFixedSize(8, 8);
  dot_->setStyleSheet(QStringLiteral("background: #e8453c; border-radius: 4px;"));
  dot_->hide();
  setObjectName(QStringLiteral("sidePanel"));
  setAttribute(Qt::WA_StyledBackground);
  auto* tabs = new QWidget(this);
  tabs->setObjectName(QStringLiteral("sideTabs"));
  tabRow_ = new QHBoxLayout(tabs);
  tabRow_->setContentsMargins(8, 0, 8, 0);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(tabs);
  notice_->setObjectName(QStringLiteral("newMessageNotice"));
  notice_->setAlignment(Qt::AlignCenter);
  notice_->setStyleSheet(QStringLiteral(
      "QLabel#newMessageNotice { background: #fff4e5; color: #b25e00; padding: 2px; }"));
  notice_->setCursor(Qt::PointingHandCursor);
  notice_->hide();
  layout->addWidget(notice_);
  layout->addWidget(pages_, 1);
  connect(group_, &QButtonGroup::idClicked, this, &SidePanel::setCurrentTab);
}

int SidePanel::currentTab() const {
  return pages_->currentIndex();
}

void SidePanel::placeDot() {
  auto* button = qobject_cast<QWidget*>(dot_->parent());
  if (!button || button == this)
    return;
  // Just right of the title's end, at the height of its top.
  const int text =
      button->fontMetrics().horizontalAdvance(static_cast<QAbstractButton*>(button)->text());
  const int x = qMin(button->width() - dot_->width() - 2, (button->width() + text) / 2 + 2);
  dot_->move(x, qMax(2, (button->height() - button->fontMetrics().height()) / 2 - 2));
}

void SidePanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (marked_ >= 0)
    placeDot();
}

void SidePanel::markNewMessage(int index) {
  QAbstractButton* button = group_->button(index);
  if (!button || index == pages_->currentIndex())
    return;
  marked_ = index;
  // A small dot beside the title, not a picture over it.
  dot_->setParent(button);
  placeDot();
  dot_->show();
  dot_->raise();
  notice_->setText(QStringLiteral("%1有新消息").arg(button->text()));
  notice_->show();
}

bool SidePanel::hasNewMessageMark(int index) const {
  return marked_ == index;
}

int SidePanel::addTab(const QString& title, QWidget* page, const QString& objectName) {
  auto* button = new QPushButton(title, this);
  button->setObjectName(objectName);
  button->setCheckable(true);
  button->setCursor(Qt::PointingHandCursor);
  const int index = pages_->addWidget(page);
  group_->addButton(button, index);
  tabRow_->addWidget(button);
  if (index == 0)
    button->setChecked(true);
  return index;
}

void SidePanel::setCurrentTab(int index) {
  if (QAbstractButton* button = group_->button(index)) {
    button->setChecked(true);
    pages_->setCurrentIndex(index);
  }
  if (marked_ == index) {
    dot_->hide();
    marked_ = -1;
    notice_->hide();
  }
}

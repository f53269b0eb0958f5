#include "SidePanel.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

SidePanel::SidePanel(QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)), pages_(new QStackedWidget(this)) {
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
  layout->addWidget(pages_, 1);
  connect(group_, &QButtonGroup::idClicked, pages_, &QStackedWidget::setCurrentIndex);
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
}

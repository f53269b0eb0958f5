#include "AnnotationAppList.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "AnnotationAppItem.h"

namespace vw {

namespace {

const char kStyle[] = R"(
QDialog#annotationAppList { background: #2b3039; }
QScrollArea, QWidget#appRows { background: transparent; border: none; }
QLabel#appListEmpty { color: #9aa0a6; font-size: 13px; padding: 24px; }
QScrollBar:vertical { background: transparent; width: 8px; margin: 0; }
QScrollBar::handle:vertical { background: #4a515b; border-radius: 4px; min-height: 24px; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
)";

}  // namespace

AnnotationAppList::AnnotationAppList(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("annotationAppList"));
  setWindowTitle(QStringLiteral("申请板书的请求列表"));
  setModal(false);
  setStyleSheet(QString::fromUtf8(kStyle));
  resize(360, 320);

  auto* rowsWidget = new QWidget;
  rowsWidget->setObjectName(QStringLiteral("appRows"));
  rows_ = new QVBoxLayout(rowsWidget);
  rows_->setContentsMargins(0, 0, 0, 0);
  rows_->setSpacing(6);
  empty_ = new QLabel(QStringLiteral("暂无板书申请"), rowsWidget);
  empty_->setObjectName(QStringLiteral("appListEmpty"));
  empty_->setAlignment(Qt::AlignCenter);
  rows_->addWidget(empty_);
  rows_->addStretch(1);  // items stay at the top however few there are

  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setWidget(rowsWidget);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->addWidget(scroll);
}

AnnotationAppItem* AnnotationAppList::addRequest(quint32 userId, const QString& displayName) {
  if (items_.contains(userId))
    return nullptr;
  auto* row = new AnnotationAppItem(userId, displayName, rows_->parentWidget());
  // In the order the requests came, above the stretch.
  rows_->insertWidget(rows_->count() - 1, row);
  row->show();  // the list may be open already
  items_.insert(userId, row);
  showEmptyState();
  return row;
}

void AnnotationAppList::removeRequest(quint32 userId) {
  AnnotationAppItem* row = items_.take(userId);
  if (!row)
    return;
  rows_->removeWidget(row);
  row->hide();
  // Later: the removal may come from the item's own button.
  row->deleteLater();
  showEmptyState();
}

AnnotationAppItem* AnnotationAppList::item(quint32 userId) const {
  return items_.value(userId);
}

void AnnotationAppList::showEmptyState() {
  empty_->setVisible(items_.isEmpty());
}

}  // namespace vw

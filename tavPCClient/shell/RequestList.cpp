#include "RequestList.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "RequestItem.h"

namespace {

const char kStyle[] = R"(
RequestList { background: #2b3039; }
QScrollArea, QWidget#appRows { background: transparent; border: none; }
QLabel#appListEmpty { color: #9aa0a6; font-size: 13px; padding: 24px; }
QScrollBar:vertical { background: transparent; width: 8px; margin: 0; }
QScrollBar::handle:vertical { background: #4a515b; border-radius: 4px; min-height: 24px; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
)";

}  // namespace

RequestList::RequestList(const QString& title, const QString& emptyText, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(title);
  setModal(false);
  setStyleSheet(QString::fromUtf8(kStyle));
  resize(360, 320);

  auto* rowsWidget = new QWidget;
  rowsWidget->setObjectName(QStringLiteral("appRows"));
  rows_ = new QVBoxLayout(rowsWidget);
  rows_->setContentsMargins(0, 0, 0, 0);
  rows_->setSpacing(6);
  empty_ = new QLabel(emptyText, rowsWidget);
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

QWidget* RequestList::rows() const {
  return rows_->parentWidget();
}

bool RequestList::addItem(RequestItem* item) {
  if (items_.contains(item->userId())) {
    delete item;
    return false;
  }
  // In the order the requests came, above the stretch.
  rows_->insertWidget(rows_->count() - 1, item);
  item->show();  // the list may be open already
  items_.insert(item->userId(), item);
  showEmptyState();
  emit countChanged(items_.size());
  return true;
}

void RequestList::removeRequest(quint32 userId) {
  RequestItem* row = items_.take(userId);
  if (!row)
    return;
  rows_->removeWidget(row);
  row->hide();
  // Later: the removal may come from the item's own button.
  row->deleteLater();
  showEmptyState();
  emit countChanged(items_.size());
}

void RequestList::clear() {
  for (quint32 userId : items_.keys())
    removeRequest(userId);
}

void RequestList::showEmptyState() {
  empty_->setVisible(items_.isEmpty());
}

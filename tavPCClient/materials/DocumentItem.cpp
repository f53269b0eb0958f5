#include "DocumentItem.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

DocumentItem::DocumentItem(int id, const QString& sharingName, const QString& fileName, int pages,
                           quint32 uploader, QWidget* parent)
    : QWidget(parent),
      id_(id),
      sharingName_(sharingName),
      fileName_(fileName),
      pages_(pages),
      uploader_(uploader),
      top_(new QPushButton(QStringLiteral("置顶"), this)),
      delete_(new QPushButton(QStringLiteral("删除"), this)) {
  setObjectName(QStringLiteral("DocumentItem"));
  setAttribute(Qt::WA_StyledBackground);
  setCursor(Qt::PointingHandCursor);
  setFixedHeight(40);
  setToolTip(QStringLiteral("<qt>%1（共%2页），点击共享</qt>")
                 .arg(sharingName.toHtmlEscaped(), QString::number(pages)));
  auto* name = new QLabel(sharingName, this);
  name->setObjectName(QStringLiteral("documentName"));
  name->setTextFormat(Qt::PlainText);
  auto* count = new QLabel(QStringLiteral("%1页").arg(pages), this);
  count->setObjectName(QStringLiteral("documentPages"));
  top_->setObjectName(QStringLiteral("btnDocumentTop"));
  delete_->setObjectName(QStringLiteral("btnDocumentDelete"));
  for (QPushButton* b : {top_, delete_}) {
    b->setFixedWidth(44);
    b->setFocusPolicy(Qt::NoFocus);
    b->setCursor(Qt::PointingHandCursor);
  }
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(10, 0, 8, 0);
  row->setSpacing(6);
  row->addWidget(name, 1);
  row->addWidget(count);
  row->addWidget(top_);
  row->addWidget(delete_);
  connect(top_, &QPushButton::clicked, this, [this] { emit MoveToTop(this); });
  connect(delete_, &QPushButton::clicked, this, [this] { emit DeleteSelf(id_); });
}

void DocumentItem::setManageable(bool manageable) {
  top_->setVisible(manageable);
  delete_->setVisible(manageable);
}

void DocumentItem::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->pos()))
    emit SharingDocument(id_, fileName_, pages_);
  QWidget::mouseReleaseEvent(event);
}

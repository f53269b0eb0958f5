#include "CoursewareItem.h"

#include <QHBoxLayout>
#include <QJsonValue>
#include <QLabel>
#include <QPushButton>

#include "CoursewareRules.h"

namespace {
int intOf(const QJsonObject& o, const char* key) {
  const QJsonValue v = o.value(QLatin1String(key));
  return v.isString() ? v.toString().toInt() : v.toInt();
}
QString textOf(const QJsonObject& o, const char* key) {
  const QJsonValue v = o.value(QLatin1String(key));
  return v.isString() ? v.toString() : (v.isDouble() ? QString::number(v.toDouble()) : QString());
}
}  // namespace

CoursewareItem::CoursewareItem(const QJsonObject& record, QWidget* parent)
    : QWidget(parent),
      record_(record),
      id_(intOf(record, "id")),
      name_(textOf(record, "coursewareName")),
      summary_(textOf(record, "description")),
      price_(intOf(record, "price")),
      title_(new QLabel(this)),
      price_label_(new QLabel(this)),
      edit_(new QPushButton(QStringLiteral("编辑"), this)),
      delete_(new QPushButton(QStringLiteral("删除"), this)) {
  setObjectName(QStringLiteral("CoursewareItem"));
  setAttribute(Qt::WA_StyledBackground);
  setFixedHeight(40);
  title_->setObjectName(QStringLiteral("coursewareName"));
  title_->setTextFormat(Qt::PlainText);
  title_->setMinimumWidth(60);
  price_label_->setObjectName(QStringLiteral("coursewarePrice"));
  auto* watch = new QPushButton(QStringLiteral("观看"), this);
  watch->setObjectName(QStringLiteral("btnWatch"));
  edit_->setObjectName(QStringLiteral("btnEdit"));
  delete_->setObjectName(QStringLiteral("btnDelete"));
  for (QPushButton* b : {watch, edit_, delete_}) {
    b->setFixedWidth(44);
    b->setCursor(Qt::PointingHandCursor);
    b->setFocusPolicy(Qt::NoFocus);
  }
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(10, 0, 8, 0);
  row->setSpacing(6);
  row->addWidget(title_, 1);
  row->addWidget(price_label_);
  row->addWidget(watch);
  row->addWidget(edit_);
  row->addWidget(delete_);
  connect(watch, &QPushButton::clicked, this, &CoursewareItem::btnWatch_clicked);
  connect(edit_, &QPushButton::clicked, this, &CoursewareItem::btnEdit_clicked);
  connect(delete_, &QPushButton::clicked, this, &CoursewareItem::btnDelete_clicked);
  refresh();
}

void CoursewareItem::setManageable(bool manageable) {
  edit_->setVisible(manageable);
  delete_->setVisible(manageable);
}

void CoursewareItem::update(const QString& name, int price, const QString& summary) {
  name_ = name;
  price_ = price;
  summary_ = summary;
  record_.insert(QStringLiteral("coursewareName"), name);
  record_.insert(QStringLiteral("price"), price);
  record_.insert(QStringLiteral("description"), summary);
  refresh();
}

void CoursewareItem::refresh() {
  title_->setText(name_);
  price_label_->setText(price_ == 0 ? QStringLiteral("免费") : QStringLiteral("%1星豆").arg(price_));
  // The tooltip is plain text: names and summaries come from other users.
  const QString tip = courseware::itemToolTip(name_, summary_, price_, textOf(record_, "nickName"),
                                              textOf(record_, "grade"));
  setToolTip(QStringLiteral("<qt>%1</qt>").arg(tip.toHtmlEscaped()));
}

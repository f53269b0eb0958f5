#include "CoursewareWidget.h"

#include <QLabel>
#include <QMouseEvent>
#include <QStyle>
#include <QVBoxLayout>

CoursewareWidget::CoursewareWidget(int id, const QString& name, const QString& uploader,
                                   const QString& playUrl, QWidget* parent)
    : QWidget(parent), id_(id), name_(name), uploader_(uploader), playUrl_(playUrl) {
  setObjectName(QStringLiteral("CoursewareWidget"));
  setAttribute(Qt::WA_StyledBackground);
  setFixedHeight(kHeight);
  setCursor(Qt::PointingHandCursor);
  auto* title = new QLabel(this);
  title->setObjectName(QStringLiteral("coursewareWidgetName"));
  title->setTextFormat(Qt::PlainText);
  title->setText(fontMetrics().elidedText(name, Qt::ElideRight, 210));
  auto* by = new QLabel(this);
  by->setObjectName(QStringLiteral("coursewareWidgetUploader"));
  by->setTextFormat(Qt::PlainText);
  by->setText(fontMetrics().elidedText(QStringLiteral("上传者：") + uploader, Qt::ElideRight, 210));
  setToolTip(name);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(12, 4, 8, 4);
  column->setSpacing(1);
  column->addWidget(title);
  column->addWidget(by);
  setProperty("checked", false);
}

void CoursewareWidget::setChecked(bool checked) {
  checked_ = checked;
  setProperty("checked", checked);
  style()->unpolish(this);
  style()->polish(this);
  for (QLabel* label : findChildren<QLabel*>()) {
    style()->unpolish(label);
    style()->polish(label);
  }
}

void CoursewareWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->pos()))
    emit signal_watch(this);
  QWidget::mouseReleaseEvent(event);
}

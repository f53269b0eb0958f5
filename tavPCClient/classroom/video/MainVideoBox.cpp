#include "MainVideoBox.h"

#include <QLabel>

#include "VideoRenderWidget.h"

namespace {
constexpr int kNameHeight = 24;
}

MainVideoBox::MainVideoBox(QWidget* parent)
    : QWidget(parent), render_(new VideoRenderWidget(this)), name_(new QLabel(this)) {
  setObjectName(QStringLiteral("mainVideoBox"));
  setAttribute(Qt::WA_StyledBackground);
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
  render_->setObjectName(QStringLiteral("mainVideo"));
  name_->setObjectName(QStringLiteral("mainVideoName"));
  name_->setTextFormat(Qt::PlainText);  // names come from other users
  name_->setText(QStringLiteral("老师视频"));
  connect(render_, &VideoRenderWidget::signal_DoubleClick, this, &MainVideoBox::enlargeRequested);
}

void MainVideoBox::setName(const QString& name) {
  name_->setText(name.isEmpty() ? QStringLiteral("老师视频") : name);
  name_->adjustSize();
  resizeEvent(nullptr);
}

QString MainVideoBox::name() const {
  return name_->text();
}

void MainVideoBox::clear() {
  render_->clear();
  setName(QString());
}

void MainVideoBox::resizeEvent(QResizeEvent*) {
  render_->setGeometry(rect());
  name_->setFixedHeight(kNameHeight);
  name_->adjustSize();
  name_->move(0, height() - kNameHeight);
  name_->raise();
}

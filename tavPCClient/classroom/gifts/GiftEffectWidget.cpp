#include "GiftEffectWidget.h"

#include <QHBoxLayout>
#include <QLabel>

#include "GiftRules.h"

namespace {
QLabel* nameLabel(const QString& name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setText(label->fontMetrics().elidedText(name, Qt::ElideRight, 90));
  label->setToolTip(name.toHtmlEscaped());
  label->setStyleSheet(QStringLiteral("background: transparent; color: white; font-weight: bold;"));
  return label;
}
QLabel* plain(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setStyleSheet(QStringLiteral("background: transparent; color: white;"));
  return label;
}
}  // namespace

GiftEffectWidget::GiftEffectWidget(const QString& sender, const QString& target,
                                   const QPixmap& picture, int count, QWidget* parent)
    : QWidget(parent), count_(count) {
  setObjectName(QStringLiteral("giftEffect"));
  setAttribute(Qt::WA_StyledBackground);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFixedSize(kWidth, kHeight);
  setStyleSheet(gifts::effectStyle(count));
  auto* pictureLabel = new QLabel(this);
  pictureLabel->setObjectName(QStringLiteral("giftEffectPicture"));
  pictureLabel->setFixedSize(40, 40);
  pictureLabel->setStyleSheet(QStringLiteral("background: transparent;"));
  if (!picture.isNull())
    pictureLabel->setPixmap(picture.scaled(pictureLabel->size(), Qt::KeepAspectRatio,
                                           Qt::SmoothTransformation));
  auto* countLabel = plain(QStringLiteral("x%1").arg(count), this);
  countLabel->setObjectName(QStringLiteral("giftEffectCount"));
  countLabel->setStyleSheet(QStringLiteral(
      "background: transparent; color: #ffe14d; font-size: 22px; font-weight: bold;"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(10, 4, 10, 4);
  layout->setSpacing(6);
  layout->addWidget(nameLabel(sender, this));
  layout->addWidget(plain(QStringLiteral("送给"), this));
  layout->addWidget(nameLabel(target, this));
  layout->addWidget(pictureLabel);
  layout->addWidget(countLabel);
  layout->addStretch(1);
}

void GiftEffectWidget::onHide() {
  hide();
  emit signalhidden(this);
}

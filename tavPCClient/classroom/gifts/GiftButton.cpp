#include "GiftButton.h"

#include <QPixmap>

#include "GiftRules.h"

GiftButton::GiftButton(int giftId, const QString& name, double price, QWidget* parent)
    : QPushButton(QStringLiteral("%1星豆/个").arg(gifts::priceText(price)), parent),
      giftId_(giftId),
      name_(name),
      price_(price) {
  setObjectName(QStringLiteral("giftButton"));
  setCheckable(true);
  setCursor(Qt::PointingHandCursor);
  // A tooltip is shown as rich text when it looks like it: the name is escaped.
  setToolTip(name.toHtmlEscaped());
  setIconSize(QSize(22, 22));
}

void GiftButton::onGetIcon(QPixmap picture) {
  if (!picture.isNull())
    setIcon(QIcon(picture));
}

// One gift of the catalogue: "%1星豆/个" with its picture, the name as tooltip.
#pragma once

#include <QPushButton>

class GiftButton : public QPushButton {
  Q_OBJECT

public:
  GiftButton(int giftId, const QString& name, double price, QWidget* parent = nullptr);

  int giftId() const { return giftId_; }
  QString giftName() const { return name_; }
  double price() const { return price_; }

public slots:
  void onGetIcon(QPixmap picture);

private:
  const int giftId_;
  const QString name_;
  const double price_;
};

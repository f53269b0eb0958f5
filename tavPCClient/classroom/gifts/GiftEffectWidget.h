// One gift shown big for a moment (340 x 54): who gave whom, the gift's
// picture and the count, on a background by count.
#pragma once

#include <QWidget>

class QLabel;

class GiftEffectWidget : public QWidget {
  Q_OBJECT

public:
  static constexpr int kWidth = 340;
  static constexpr int kHeight = 54;

  GiftEffectWidget(const QString& sender, const QString& target, const QPixmap& picture,
                   int count, QWidget* parent = nullptr);

  int count() const { return count_; }

signals:
  void signalhidden(GiftEffectWidget* effect);

public slots:
  void onHide();

private:
  const int count_;
};

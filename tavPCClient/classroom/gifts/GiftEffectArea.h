// Where gift effects appear over the teaching area: at most three at a time,
// each sliding up from (9, 550) to (9, 250) in 500 ms and staying 3 s; more
// wait in order. Transparent to the mouse; lies along its parent's left edge.
#pragma once

#include <QList>
#include <QQueue>
#include <QWidget>

class GiftEffectWidget;
class QVBoxLayout;

class GiftEffectArea : public QWidget {
  Q_OBJECT

public:
  static constexpr int kMaxVisible = 3;
  static constexpr int kSlideMs = 500;
  static constexpr int kShowMs = 3000;

  explicit GiftEffectArea(QWidget* parent = nullptr);

  // Shows the effect now or after those waiting; the area takes it.
  void showEffect(GiftEffectWidget* effect);

  int visibleCount() const { return visible_; }
  int waitingCount() const { return static_cast<int>(waiting_.size()); }
  QList<GiftEffectWidget*> shownEffects() const { return shown_; }

public slots:
  void giftEffectWidget_hidden(GiftEffectWidget* effect);

protected:
  // Follows the parent's height along its left edge.
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void start(GiftEffectWidget* effect);

  QVBoxLayout* layout_;
  QQueue<GiftEffectWidget*> waiting_;
  QList<GiftEffectWidget*> shown_;
  int visible_ = 0;
};

// A one-line text that runs from right to left when it is wider than the
// label (and stands still when it fits), as plain text. Clicking it emits
// clicked() when it is made clickable.
#pragma once

#include <QString>
#include <QWidget>

class QTimer;

class MarqueeLabel : public QWidget {
  Q_OBJECT

public:
  // Pixels moved per step and the step; the text rests at its start this long.
  static constexpr int kStepPx = 1;
  static constexpr int kStepMs = 30;
  static constexpr int kRestMs = 1500;

  explicit MarqueeLabel(QWidget* parent = nullptr);

  void setText(const QString& text);
  QString text() const { return text_; }
  void setClickable(bool clickable);
  // Whether the text runs (it does not fit) and where it is now.
  bool running() const;
  int offset() const { return offset_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

signals:
  void clicked();

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  void restart();
  void step();
  int textWidth() const;

  QString text_;
  bool clickable_ = false;
  int offset_ = 0;
  QTimer* timer_;
};

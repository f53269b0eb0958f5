// A veil over a window with a turning arc and a line of text, shown while the
// window waits for something it cannot go on without.
#pragma once

#include <QWidget>

class QTimer;

class LoadingWidget : public QWidget {
  Q_OBJECT

public:
  explicit LoadingWidget(const QString& text, QWidget* parent);

  // Covers the parent and starts turning; stop() hides it again.
  void start();
  void stop();
  int angle() const { return angle_; }

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  QString text_;
  QTimer* timer_;
  int angle_ = 0;
};

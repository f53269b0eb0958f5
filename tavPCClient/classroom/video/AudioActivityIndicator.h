// Three small bouncing bars beside a tile's audio icon: shows at a glance that
// the member's sound is open.
#pragma once

#include <QWidget>

class QTimer;

class AudioActivityIndicator : public QWidget {
  Q_OBJECT

public:
  explicit AudioActivityIndicator(QWidget* parent = nullptr);

  void setActive(bool active);
  bool isActive() const { return m_active; }
  QSize sizeHint() const override { return QSize(14, 14); }

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  QTimer* m_timer;
  bool m_active = false;
  int m_phase = 0;
};

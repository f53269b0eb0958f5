// Lets the user drag a frameless window by any free spot, and keeps Escape
// from closing it. Install on the window itself.
#pragma once

#include <QObject>
#include <QPoint>

class WndDragFilter : public QObject {
  Q_OBJECT

 public:
  explicit WndDragFilter(QObject* parent = nullptr);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool dragging_ = false;
  QPoint offset_;
};

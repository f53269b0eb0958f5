#include "WndDragFilter.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

WndDragFilter::WndDragFilter(QObject* parent) : QObject(parent) {}

bool WndDragFilter::eventFilter(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget) {
    QWidget* window = widget->window();
    switch (event->type()) {
      case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        offset_ = mouse->globalPos() - window->pos();
        dragging_ = true;
        break;
      }
      case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (dragging_ && mouse->buttons() != Qt::NoButton)
          window->move(mouse->globalPos() - offset_);
        break;
      }
      case QEvent::MouseButtonRelease:
        dragging_ = false;
        break;
      case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
          return true;
        break;
      default:
        break;
    }
  }
  return QObject::eventFilter(watched, event);
}

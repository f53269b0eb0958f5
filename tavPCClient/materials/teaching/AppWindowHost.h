// Another program's window embedded in the classroom: it is a native child
// of this widget while shared, and goes back to the desktop, at the place it
// came from, when released or when this widget goes (so the classroom closing
// never takes the program's window down with it).
#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <QWindow>

class AppWindowHost : public QWidget {
  Q_OBJECT

public:
  AppWindowHost(quint64 handle, const QRect& home, QWidget* parent = nullptr);
  ~AppWindowHost() override;

  bool embedded() const { return window_ != nullptr; }
  // Hands the window back to the desktop (when it still exists).
  void release(bool stillThere);

private:
  QPointer<QWindow> window_;
  QWidget* container_ = nullptr;
  const QRect home_;
};

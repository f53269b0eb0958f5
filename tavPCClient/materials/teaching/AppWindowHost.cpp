#include "AppWindowHost.h"

#include <QVBoxLayout>
#include <QWindow>

#include "platform/desktop_windows.h"

AppWindowHost::AppWindowHost(quint64 handle, const QRect& home, QWidget* parent)
    : QWidget(parent), home_(home) {
  setObjectName(QStringLiteral("appWindowHost"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  window_ = QWindow::fromWinId(WId(handle));
  if (!window_)
    return;
  container_ = QWidget::createWindowContainer(window_, this);
  container_->setObjectName(QStringLiteral("appContainer"));
  layout->addWidget(container_);
}

AppWindowHost::~AppWindowHost() {
  release(true);
}

void AppWindowHost::release(bool stillThere) {
  if (!window_)
    return;
  QWindow* window = window_;
  window_ = nullptr;
  // Back on the desktop before the container's native window goes: the X
  // server would take every window inside it down with it.
  const quint64 handle = quint64(window->winId());
  window->setParent(nullptr);
  if (stillThere) {
    window->setGeometry(home_);
    platform::showDesktopWindow(handle);
  }
  if (container_) {
    container_->hide();
    container_->deleteLater();
    container_ = nullptr;
  }
}

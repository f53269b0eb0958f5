#include "AppWindowHost.h"

#include <QVBoxLayout>
#include <QWindow>

#include "platform/desktop_windows.h"

#ifdef TAV_HAVE_X11EXTRAS
#include <QX11Info>
#endif

AppWindowHost::AppWindowHost(quint64 handle, const QRect& home, QWidget* parent)
    : QWidget(parent), home_(home) {
  setObjectName(QStringLiteral("appWindowHost"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  window_ = QWindow::fromWinId(WId(handle));
  if (!window_)
    return;
  container_ = QWidget::createWindowContainer(window_, this);
#ifdef TAV_HAVE_X11EXTRAS
  // Should the classroom crash or be killed while it holds the window, the
  // X server puts the window back on the desktop instead of destroying it.
  if (QX11Info::isPlatformX11())
    platform::keepOnDesktopIfWeEnd(QX11Info::connection(), handle, true);
#endif
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
#ifdef TAV_HAVE_X11EXTRAS
  if (QX11Info::isPlatformX11())
    platform::keepOnDesktopIfWeEnd(QX11Info::connection(), handle, false);
#endif
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

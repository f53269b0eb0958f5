#include "Prompt.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>

Prompt* Prompt::instance() {
  static QPointer<Prompt> prompt;
  if (!prompt)
    prompt = new Prompt;
  return prompt;
}

Prompt::Prompt(QWidget* parent) : QLabel(parent), timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("Prompt"));
  setAlignment(Qt::AlignCenter);
  setWordWrap(false);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_StyledBackground);
  // Its own look, so a style sheet on the window it sits on cannot hide it.
  setStyleSheet(
      QStringLiteral("QLabel#Prompt { background: rgba(0, 0, 0, 180); color: #ffffff;"
                     " border-radius: 6px; padding: 10px 20px; }"));
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, &Prompt::destroyMessage);
  hide();
}

void Prompt::showMessage(QWidget* parent, const QString& text) {
  if (parent && parentWidget() != parent)
    setParent(parent);
  if (!parent && (parentWidget() || (windowFlags() & Qt::ToolTip) != Qt::ToolTip))
    // Nowhere to sit: a small window of its own in the middle of the screen.
    setParent(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  // Laid out afresh: a long message before must not leave its width behind.
  setWordWrap(false);
  setMinimumWidth(0);
  setMaximumWidth(QWIDGETSIZE_MAX);
  setText(text);
  setToolTip(text);
  adjustSize();
  if (parent) {
    // Long texts wrap rather than run past the window's edges.
    const int maxWidth = qMax(120, parent->width() - 40);
    if (width() > maxWidth) {
      setWordWrap(true);
      setFixedWidth(maxWidth);
      adjustSize();
    }
    move((parent->width() - width()) / 2, (parent->height() - height()) / 2);
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  show();
  raise();
  timer_->start(kShowMs);
}

void Prompt::destroyMessage() {
  hide();
}

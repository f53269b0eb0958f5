// Small helpers shared by the tests: private folders and waiting on conditions.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QWidget>
#include <QTemporaryDir>
#include <QThread>
#include <functional>

#include "eventually.h"

namespace testsupport {

// Runs the event loop until pred() holds or timeoutMs passes (by default the
// generous, scalable limit of eventually.h); true when it held.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs = -1) {
  QDeadlineTimer deadline(timeoutMs >= 0 ? timeoutMs : static_cast<int>(wait_limit().count()));
  while (!pred()) {
    if (deadline.hasExpired())
      return false;
    if (QCoreApplication::instance()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      // deleteLater() issued outside any event loop is only honoured this way.
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QThread::msleep(10);
  }
  return true;
}

// Whether owner shows text in a label as plain text (never as markup), with a
// tooltip that reads as the same text: names other users typed must not be
// interpreted. False when no label shows exactly text.
bool showsAsPlainText(const QWidget& owner, const QString& text);

// A fresh HOME for one test: HOME, XDG_DATA_HOME, XDG_CONFIG_HOME and
// XDG_RUNTIME_DIR point into a temporary folder while the object lives.
class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  QString home() const { return dir_.path(); }
  QString dataHome() const { return dir_.path() + "/.local/share"; }
  QString runtimeDir() const { return dir_.path() + "/run"; }
  // The client's per-user data folder below this home, ending in '/'.
  QString clientDataFolder() const { return dataHome() + "/TavPcClient/"; }

 private:
  QTemporaryDir dir_;
  QByteArray saved_[4];
};

// Folder of the built programs (build/bin).
QString binDir();

}  // namespace testsupport

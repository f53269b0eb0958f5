// Another member's whole classroom window, run as its own process
// (classroom-window-member): commands go to its input, what it reports is
// collected line by line while the test's event loop runs.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include "TestSupport.h"

class WindowMember {
public:
  // display: an X display to show the window on (empty: offscreen).
  WindowMember(const QString& account, quint32 roomId, const QString& serviceHost, quint16 mcuPort,
               quint16 msgPort, const QString& home, const QString& display = QString()) {
    const QString own = home + QStringLiteral("/window-") + account;
    QDir().mkpath(own + QStringLiteral("/run"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", own);
    env.insert("XDG_DATA_HOME", own + "/.local/share");
    env.insert("XDG_CONFIG_HOME", own + "/.config");
    env.insert("XDG_RUNTIME_DIR", own + "/run");
    if (display.isEmpty()) {
      env.insert("QT_QPA_PLATFORM", "offscreen");
    } else {
      env.insert("DISPLAY", display);
      env.remove("QT_QPA_PLATFORM");
    }
    process_.setProcessEnvironment(env);
    process_.setStandardErrorFile(own + QStringLiteral("/stderr.txt"));
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
      while (process_.canReadLine()) {
        lines_ << QString::fromUtf8(process_.readLine()).trimmed();
        at_ << clock_.nsecsElapsed();
      }
    });
    clock_.start();
    process_.start(
        QCoreApplication::applicationDirPath() + QStringLiteral("/classroom-window-member"),
        {account, QString::number(roomId), serviceHost, QString::number(mcuPort),
         QString::number(msgPort)});
  }
  ~WindowMember() {
    process_.closeWriteChannel();
    if (!process_.waitForFinished(10000))
      process_.kill();
    process_.waitForFinished(5000);
  }

  void send(const QString& command) { process_.write(command.toUtf8() + '\n'); }

  // Lines so far; a mark taken before an action lets waitFor look only at what
  // came after it.
  int mark() const { return lines_.size(); }
  const QStringList& lines() const { return lines_; }
  bool waitFor(const QString& line, int from = 0) {
    return testsupport::waitUntil([&] { return lines_.indexOf(line, from) >= 0; });
  }
  bool finished() { return process_.state() == QProcess::NotRunning; }
  // Ends the member's process at once, as a crash would.
  void kill() {
    process_.kill();
    process_.waitForFinished(30000);
  }
  qint64 pid() const { return process_.processId(); }
  // When each line came, in ns of the member's own clock (started with it).
  qint64 nsecsAt(int line) const { return at_.value(line); }
  qint64 now() const { return clock_.nsecsElapsed(); }

private:
  QProcess process_;
  QStringList lines_;
  QList<qint64> at_;
  QElapsedTimer clock_;
};

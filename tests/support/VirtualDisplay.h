// An X server of the test's own (Xvfb), without a window manager, and what a
// user does on it, through xdotool: find a window by its title, press Return
// in it, take a screenshot; and the windows' stacking order (xwininfo).
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include "TestSupport.h"

class VirtualDisplay {
public:
  VirtualDisplay() {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
        QStandardPaths::findExecutable("xdotool").isEmpty())
      return;
    // -displayfd 1: the server writes its display number to our pipe once it listens.
    server_.setProcessChannelMode(QProcess::SeparateChannels);
    server_.start(
        "Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
    if (!server_.waitForStarted(30000))
      return;
    QByteArray number;
    testsupport::waitUntil([&] {
      server_.waitForReadyRead(50);
      number += server_.readAllStandardOutput();
      return number.contains('\n') || server_.state() != QProcess::Running;
    });
    if (number.trimmed().isEmpty())
      return;
    name_ = ":" + QString::fromLatin1(number.trimmed());
    // Up once a client can talk to it.
    ready_ = testsupport::waitUntil([&] { return xdotool({"getdisplaygeometry"}) == 0; });
  }
  ~VirtualDisplay() {
    if (server_.state() != QProcess::NotRunning) {
      server_.terminate();
      server_.waitForFinished(30000);
    }
  }

  bool usable() const { return ready_; }
  QString name() const { return name_; }

  bool hasWindow(const QString& title) { return !windows(title).isEmpty(); }

  // Focuses the newest visible window of that title and presses Return there.
  bool pressReturnIn(const QString& title) {
    const QStringList ids = windows(title);
    return !ids.isEmpty() && xdotool({"windowfocus", "--sync", ids.last(), "key", "Return"}) == 0;
  }

  // The root's windows from the top-most down (X window ids).
  QList<quint64> stackingOrder() {
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start("xwininfo", {"-root", "-children"});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
      return {};
    QList<quint64> ids;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
      const QByteArray item = line.trimmed();
      if (!item.startsWith("0x"))
        continue;
      bool ok = false;
      const quint64 id = item.left(item.indexOf(' ')).toULongLong(&ok, 16);
      if (ok)
        ids << id;
    }
    return ids;
  }

  // The whole screen as a PNG (ImageMagick's import); false when it cannot be taken.
  bool screenshot(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start("import", {"-window", "root", path});
    return p.waitForFinished(60000) && p.exitCode() == 0;
  }

private:
  QProcessEnvironment environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", name_);
    return env;
  }
  int xdotool(const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start("xdotool", args);
    if (!p.waitForFinished(60000))
      return -1;
    if (out)
      *out = p.readAllStandardOutput();
    return p.exitCode();
  }
  QStringList windows(const QString& title) {
    QByteArray out;
    if (xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}, &out) != 0)
      return {};
    return QString::fromLatin1(out).split('\n', Qt::SkipEmptyParts);
  }

  QProcess server_;
  QString name_;
  bool ready_ = false;
};

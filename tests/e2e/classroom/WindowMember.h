// Another member's whole classroom window, run as its own process
// (classroom-window-member): commands go to its input, what it reports is
// collected line by line while the test's event loop runs.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStringList>

#include "TestSupport.h"

class WindowMember {
public:
  WindowMember(const QString& account, quint32 roomId, const QString& serviceHost, quint16 mcuPort,
               quint16 msgPort, const QString& home) {
    const QString own = home + QStringLiteral("/window-") + account;
    QDir().mkpath(own + QStringLiteral("/run"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", own);
    env.insert("XDG_DATA_HOME", own + "/.local/share");
    env.insert("XDG_CONFIG_HOME", own + "/.config");
    env.insert("XDG_RUNTIME_DIR", own + "/run");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process_.setProcessEnvironment(env);
    process_.setStandardErrorFile(own + QStringLiteral("/stderr.txt"));
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
      while (process_.canReadLine())
        lines_ << QString::fromUtf8(process_.readLine()).trimmed();
    });
    process_.start(QCoreApplication::applicationDirPath() + QStringLiteral("/classroom-window-member"),
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

private:
  QProcess process_;
  QStringList lines_;
};

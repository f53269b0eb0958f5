// The updater's log "TavUpdateLog.txt": plain lines in the local 8-bit
// encoding, each written out at once so a killed run still leaves its trail.
#pragma once

#include <QFile>
#include <QString>

class UpdateLog {
public:
  // Opens the file from its beginning, dropping an earlier run's lines. When it
  // cannot be opened the run goes on without a log.
  explicit UpdateLog(const QString& path);

  bool isOpen() const { return file_.isOpen(); }
  void write(const QString& line);

private:
  QFile file_;
};

// Start-up worker: puts a freshly delivered updater in place and starts it.
// Touches only files and processes, never widgets.
#pragma once

#include <QString>
#include <QThread>

class ForUpdate : public QThread {
  Q_OBJECT

public:
  // How long a running updater asked to quit may take before it is killed.
  static constexpr int kUpdaterQuitMs = 2000;

  // Works on the program's own folder and the system's local data folder.
  explicit ForUpdate(QObject* parent = nullptr);
  // Works on the given folders (an empty localAppData skips the stale-download cleanup).
  ForUpdate(const QString& appDir, const QString& localAppData, QObject* parent = nullptr);

protected:
  void run() override;

private:
  QString appDir_;
  QString localAppData_;
};

// The updater's whole run: asks the service for the newest client version,
// compares it with the installed client's, and when the service has a newer one
// tells the user, downloads the installer, checks its signature and version,
// writes it as "AutoUpdate", and only then ends the client and starts it. A QThread by heritage;
// all of its work runs on the main thread's event loop (the replies arrive as signals).
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "updater/UpdateLog.h"

class DownloadUpdateDialog;

class UpdateManager : public QThread {
  Q_OBJECT

public:
  struct Setup {
    QString appDir;           // the updater's folder, where the client is installed
    QString dataFolder;       // the client's per-user data folder, ending in '/'
    QString installerFolder;  // where "AutoUpdate" is written
    QByteArray publicKey;     // the release key installers are checked against
    // This updater's release: the oldest one it installs when the client's version
    // cannot be read.
    QString ownVersion;
    // Ends this user's processes of the program at that path (asked to quit
    // first); the process ids it ended.
    std::function<std::vector<int>(const std::string& path)> endProcess;
  };

  // The installed updater: its own folder, the user's data folders, the built-in key.
  static Setup installedSetup();
  // How long a program asked to quit may take before it is killed.
  static constexpr int kQuitGraceMs = 5000;

  explicit UpdateManager(QObject* parent = nullptr);
  explicit UpdateManager(Setup setup, QObject* parent = nullptr);
  ~UpdateManager() override;

  QString host() const { return host_; }
  DownloadUpdateDialog* progressDialog() const { return progressDialog_.get(); }

  // Sends the version request (nothing when there is no service host).
  void CheckUpdate();
  // Asks the user and starts the download of url (the client runs on).
  void UpdateProgram(const QString& url);

  // The download takes at most this long.
  static constexpr int kDownloadTimeoutMs = 10 * 60 * 1000;
  // Installers larger than this are refused while they arrive.
  static constexpr qint64 kMaxInstallerBytes = qint64(512) << 20;

signals:
  // Emitted with 0 when the run is over; the program then exits.
  void onFinished(int);

public slots:
  void onGetVersionFinished(QJsonObject obj);
  void onGetExeFinished(QByteArray data);
  void onGetExeProgress(qint64 received, qint64 total);
  void closeProcessDlg();

private:
  QString exe(const char* base) const;
  void log(const QString& line) { log_.write(line); }
  void startUpdate(const QString& url, const QJsonObject& obj);
  void finish();
  // Ends the installed program of that name beside the updater, and logs whom.
  void endInstalled(const char* base);

  Setup setup_;
  QString host_;
  UpdateLog log_;
  std::unique_ptr<DownloadUpdateDialog> progressDialog_;
  QString expectedVersion_;
  QByteArray signature_;
  bool versionAnswered_ = false;
  bool closeScheduled_ = false;
  bool finished_ = false;
};

// Settings kept between runs in "config.ini" (INI format, group "conf") in the
// per-user data folder.
#pragma once

#include <QMutex>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <memory>

// Where the client looks for the service until "conf/serverIP" says otherwise:
// the local all-in-one server of the demo.
inline constexpr const char kDefaultServiceHost[] = "127.0.0.1:27800";

class LocalConfig {
 public:
  // The process-wide instance on the per-user data folder, created on first use.
  static LocalConfig* instance();

  // An instance on "<dataFolder>config.ini"; applies and writes back the defaults.
  explicit LocalConfig(const QString& dataFolder);

  LocalConfig(const LocalConfig&) = delete;
  LocalConfig& operator=(const LocalConfig&) = delete;

  QString serverIP() const;
  // Also stores it as "conf/serverIP".
  void setServerIP(const QString& host);
  QString videoPath() const;
  QString picFileBrowsePath() const;
  // Also stores it as "conf/PicFileBrowsePath".
  void setPicFileBrowsePath(const QString& path);

  // The setting as a string, empty when missing.
  QString value(const QString& key) const;
  void setValue(const QString& key, const QVariant& value);

  // A stored device index ("conf/cmbCamera", "conf/microphoneIndex",
  // "conf/speakerIndex", ...): 0 when missing, negative or not below deviceCount.
  int deviceIndex(const QString& key, int deviceCount) const;

 private:
  mutable QMutex mutex_;
  std::unique_ptr<QSettings> settings_;
  QString serverIP_;
  QString videoPath_;
  QString picFileBrowsePath_;
};

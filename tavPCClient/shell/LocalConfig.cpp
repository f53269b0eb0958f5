#include "LocalConfig.h"

#include <QDir>
#include <QFile>

#include "DataFolder.h"
#include "platform/platform.h"

LocalConfig* LocalConfig::instance() {
  // Never destroyed: windows may still read settings while the process exits.
  static LocalConfig* config = new LocalConfig(DataFolder::path());
  return config;
}

namespace {
std::unique_ptr<QSettings> openSettings(const QString& file) {
  auto settings = std::make_unique<QSettings>(file, QSettings::IniFormat);
  settings->setIniCodec("UTF-8");
  return settings;
}
}  // namespace

LocalConfig::LocalConfig(const QString& dataFolder) {
  const QString file = dataFolder + QStringLiteral("config.ini");
  settings_ = openSettings(file);
  if (settings_->status() == QSettings::FormatError) {
    // An unreadable file would never be written again; keep it aside for
    // inspection and start from the defaults.
    settings_.reset();
    QFile::remove(file + QStringLiteral(".bad"));
    QFile::rename(file, file + QStringLiteral(".bad"));
    settings_ = openSettings(file);
  }

  serverIP_ = settings_->value(QStringLiteral("conf/serverIP")).toString();
  if (serverIP_.isEmpty()) {
    serverIP_ = QString::fromLatin1(kDefaultServiceHost);
    settings_->setValue(QStringLiteral("conf/serverIP"), serverIP_);
  }

  videoPath_ = settings_->value(QStringLiteral("conf/videoPath")).toString();
  if (videoPath_.isEmpty()) {
    videoPath_ = dataFolder + QStringLiteral("video");
    settings_->setValue(QStringLiteral("conf/videoPath"), videoPath_);
  }
  if (!QDir(videoPath_).exists())
    QDir().mkpath(videoPath_);

  picFileBrowsePath_ = settings_->value(QStringLiteral("conf/PicFileBrowsePath")).toString();
  if (picFileBrowsePath_.isEmpty()) {
    picFileBrowsePath_ = QString::fromStdString(platform::picturesDir());
    if (picFileBrowsePath_.isEmpty())
      picFileBrowsePath_ = dataFolder;
  }
  settings_->sync();
}

QString LocalConfig::serverIP() const {
  QMutexLocker lock(&mutex_);
  return serverIP_;
}

void LocalConfig::setServerIP(const QString& host) {
  QMutexLocker lock(&mutex_);
  serverIP_ = host;
  settings_->setValue(QStringLiteral("conf/serverIP"), host);
  settings_->sync();
}

QString LocalConfig::videoPath() const {
  QMutexLocker lock(&mutex_);
  return videoPath_;
}

QString LocalConfig::picFileBrowsePath() const {
  QMutexLocker lock(&mutex_);
  return picFileBrowsePath_;
}

void LocalConfig::setPicFileBrowsePath(const QString& path) {
  QMutexLocker lock(&mutex_);
  picFileBrowsePath_ = path;
  settings_->setValue(QStringLiteral("conf/PicFileBrowsePath"), path);
  settings_->sync();
}

QString LocalConfig::value(const QString& key) const {
  QMutexLocker lock(&mutex_);
  return settings_->value(key).toString();
}

void LocalConfig::setValue(const QString& key, const QVariant& value) {
  QMutexLocker lock(&mutex_);
  settings_->setValue(key, value);
  settings_->sync();
}

int LocalConfig::deviceIndex(const QString& key, int deviceCount) const {
  QMutexLocker lock(&mutex_);
  bool ok = false;
  const int index = settings_->value(key, 0).toInt(&ok);
  if (!ok || index < 0 || index >= deviceCount)
    return 0;
  return index;
}

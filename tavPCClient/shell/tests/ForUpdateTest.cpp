// The start-up worker puts a delivered updater in place and starts it, using
// real files and real processes in a private folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include "ForUpdate.h"
#include "TestSupport.h"

using testsupport::waitUntil;

namespace {
void writeScript(const QString& path, const QString& markerFile) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QStringLiteral("#!/bin/sh\necho started > '%1'\n").arg(markerFile).toUtf8());
  f.close();
  f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QByteArray contents(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

class ForUpdateTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    appDir_ = dir_.path() + "/app";
    localData_ = dir_.path() + "/local";
    QDir().mkpath(appDir_);
    QDir().mkpath(localData_ + "/TavPcClient");
  }
  void runWorker(const QString& localData) {
    ForUpdate worker(appDir_, localData);
    worker.start();
    ASSERT_TRUE(worker.wait(20000));
  }
  QTemporaryDir dir_;
  QString appDir_, localData_;
};

TEST_F(ForUpdateTest, FreshUpdaterReplacesRunningOneAndStarts) {
  // The running updater: a copy of sleep under the updater's name.
  ASSERT_TRUE(QFile::copy("/bin/sleep", appDir_ + "/TavUpdate"));
  QProcess running;
  running.start(appDir_ + "/TavUpdate", {"300"});
  ASSERT_TRUE(running.waitForStarted(20000));

  const QString marker = dir_.path() + "/started.txt";
  writeScript(appDir_ + "/NewUpdate", marker);
  const QByteArray fresh = contents(appDir_ + "/NewUpdate");
  QFile stale(localData_ + "/TavPcClient/AutoUpdate");
  ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  stale.close();

  runWorker(localData_);

  ASSERT_TRUE(running.waitForFinished(20000));
  EXPECT_EQ(running.exitStatus(), QProcess::CrashExit);  // ended by the signal to quit
  EXPECT_FALSE(QFile::exists(appDir_ + "/NewUpdate"));
  EXPECT_EQ(contents(appDir_ + "/TavUpdate"), fresh);
  EXPECT_FALSE(QFile::exists(localData_ + "/TavPcClient/AutoUpdate"));
  EXPECT_TRUE(waitUntil([&] { return QFile::exists(marker); }));
}

TEST_F(ForUpdateTest, ExistingUpdaterIsRestarted) {
  const QString marker = dir_.path() + "/restarted.txt";
  writeScript(appDir_ + "/TavUpdate", marker);
  runWorker(localData_);
  EXPECT_TRUE(waitUntil([&] { return QFile::exists(marker); }));
  EXPECT_TRUE(QFile::exists(appDir_ + "/TavUpdate"));
}

TEST_F(ForUpdateTest, WithoutLocalDataFolderNothingIsTouched) {
  const QString marker = dir_.path() + "/never.txt";
  writeScript(appDir_ + "/NewUpdate", marker);
  runWorker(QString());
  EXPECT_TRUE(QFile::exists(appDir_ + "/NewUpdate"));
  EXPECT_FALSE(QFile::exists(appDir_ + "/TavUpdate"));
}

TEST_F(ForUpdateTest, NoUpdaterAtAllIsHarmless) {
  runWorker(localData_);
  EXPECT_TRUE(QDir(appDir_).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

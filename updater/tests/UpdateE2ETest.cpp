// A whole update with real processes: the service with a release published by
// its command, an installer made by scripts/package, the updater on a virtual
// display answered as a user would, the installer replacing the client.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <memory>

#include "ChildService.h"
#include "TestSupport.h"
#include "VirtualDisplay.h"
#include "updater/FileVersion.h"

using testsupport::waitUntil;

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool copyExecutable(const QString& from, const QString& to) {
  QFile::remove(to);
  return QFile::copy(from, to) &&
         QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Runs a program to its end; its exit code, or -1 when it did not end normally.
int run(const QString& program, const QStringList& args, QByteArray* output = nullptr) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForStarted(30000) ||
      !p.waitForFinished(static_cast<int>(testsupport::wait_limit().count())))
    return -1;
  if (output)
    *output = p.readAll();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Name, size and contents' hash of everything below a folder.
QStringList snapshot(const QString& folder) {
  QStringList entries;
  QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    it.next();
    entries << it.filePath() + ' ' + QString::number(qHash(readAll(it.filePath())));
  }
  entries.sort();
  return entries;
}

class UpdateE2E : public ::testing::Test {
protected:
  void SetUp() override {
    if (!display_.usable())
      GTEST_SKIP() << "no Xvfb or xdotool here";
    const QString bin = testsupport::binDir();
    app_ = home_.home() + "/opt/tav";
    ASSERT_TRUE(QDir().mkpath(app_));

    // The installed client 1.0.0 with its updater and a side file.
    ASSERT_TRUE(copyExecutable(TAV_TEST_CLIENT_OLD, app_ + "/TavPcClient"));
    ASSERT_TRUE(copyExecutable(bin + "/TavUpdate", app_ + "/TavUpdate"));
    QFile side(app_ + "/videoparam.conf");
    ASSERT_TRUE(side.open(QIODevice::WriteOnly));
    side.write("old parameters\n");
    side.close();

    // A build of release 1.0.1 to package, signed with the build's key.
    const QString build = home_.home() + "/build-1.0.1";
    ASSERT_TRUE(QDir().mkpath(build + "/bin"));
    ASSERT_TRUE(QDir().mkpath(build + "/update-key"));
    ASSERT_TRUE(copyExecutable(TAV_TEST_CLIENT_NEW, build + "/bin/TavPcClient"));
    ASSERT_TRUE(copyExecutable(bin + "/TavUpdate", build + "/bin/TavUpdate"));
    ASSERT_TRUE(copyExecutable(bin + "/tav-update-sign", build + "/bin/tav-update-sign"));
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(TAV_UPDATE_SECRET_KEY), build + "/update-key/secret.key"));
    QFile newSide(build + "/bin/videoparam.conf");
    ASSERT_TRUE(newSide.open(QIODevice::WriteOnly));
    newSide.write("new parameters\n");
    newSide.close();
    package_ = home_.home() + "/package";
    QByteArray output;
    ASSERT_EQ(run(QStringLiteral(TAV_SOURCE_DIR "/scripts/package"),
                  {"--build", build, "--out", package_, "--no-deb"}, &output),
              0)
        << output.toStdString();
    ASSERT_EQ(FileVersion::read(package_ + "/AutoUpdate"), "1.0.1");

    service_ = std::make_unique<testsupport::ChildService>(
        (bin + "/tav-service").toStdString(), (home_.home() + "/service").toStdString());
    ASSERT_NE(service_->port(), 0);
    QSettings ini(home_.clientDataFolder() + "config.ini", QSettings::IniFormat);
    ini.setValue("conf/serverIP", QStringLiteral("127.0.0.1:%1").arg(service_->port()));
  }

  void TearDown() override {
    for (qint64 pid : clientPids())
      ::kill(static_cast<pid_t>(pid), SIGKILL);
  }

  void publish(const QString& installer) {
    QByteArray output;
    ASSERT_EQ(run(testsupport::binDir() + "/tav-service",
                  {"publish", "--data", home_.home() + "/service", "--version", "1.0.1",
                   "--installer", installer, "--signature-file", package_ + "/AutoUpdate.sig"},
                  &output),
              0)
        << output.toStdString();
  }

  QProcessEnvironment environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_.name());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("TAV_TEST_CLIENT_LOG", clientLog());
    return env;
  }
  QString clientLog() const { return home_.home() + "/clients.txt"; }
  // Every start of a client in the install folder, by process id.
  QList<qint64> clientPids() const {
    QList<qint64> pids;
    for (const QByteArray& line : readAll(clientLog()).split('\n'))
      if (line.startsWith("running "))
        pids << line.mid(8).toLongLong();
    return pids;
  }
  static bool alive(qint64 pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0; }

  QStringList updaterLog() const {
    QStringList lines =
        QString::fromLocal8Bit(readAll(home_.clientDataFolder() + "TavUpdateLog.txt")).split('\n');
    lines.removeLast();
    return lines;
  }

  // The running client, then its updater as the client starts it; the prompt
  // is answered with "立即升级" (the default button). Returns when the updater ended,
  // and the client with it when the update was to be installed.
  void runUpdater(const QString& screenshot, bool installs) {
    QProcess client;
    client.setProcessEnvironment(environment());
    client.start(app_ + "/TavPcClient", QStringList());
    ASSERT_TRUE(client.waitForStarted(30000));
    clientPid_ = client.processId();
    ASSERT_TRUE(waitUntil([&] { return clientPids().size() == 1; }));

    QProcess updater;
    updater.setProcessEnvironment(environment());
    updater.setProcessChannelMode(QProcess::ForwardedChannels);
    updater.start(app_ + "/TavUpdate", QStringList());
    ASSERT_TRUE(updater.waitForStarted(30000));
    ASSERT_TRUE(waitUntil([&] { return display_.hasWindow("塔维网升级"); }))
        << updaterLog().join('\n').toStdString();
    display_.screenshot(screenshot);
    EXPECT_TRUE(alive(client.processId()));  // nothing is ended before the user answers
    ASSERT_TRUE(display_.pressReturnIn("塔维网升级"));

    ASSERT_TRUE(updater.waitForFinished(static_cast<int>(testsupport::wait_limit().count())));
    EXPECT_EQ(updater.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(updater.exitCode(), 0);
    if (!installs) {
      // Nothing to install: the client was never asked to quit (it says so when it is).
      EXPECT_EQ(readAll(clientLog()).count("asked to quit"), 0);
      return;
    }
    // The updater asked the running client to quit, and it did, by itself.
    ASSERT_TRUE(client.waitForFinished(30000));
    EXPECT_EQ(client.exitStatus(), QProcess::NormalExit);
  }

  testsupport::TempHome home_;
  qint64 clientPid_ = 0;
  VirtualDisplay display_;
  QString app_;
  QString package_;
  std::unique_ptr<testsupport::ChildService> service_;
};

}  // namespace

TEST_F(UpdateE2E, ANewerSignedReleaseIsDownloadedVerifiedAndInstalled) {
  publish(package_ + "/AutoUpdate");
  runUpdater(QStringLiteral(TAV_SCREENSHOT_DIR "/update-prompt.png"), true);

  const QString installer = home_.dataHome() + "/TavPcClient/AutoUpdate";
  const QString url =
      QStringLiteral("http://127.0.0.1:%1/download/AutoUpdate-1.0.1").arg(service_->port());
  const QString length = QString::number(QFileInfo(package_ + "/AutoUpdate").size());
  EXPECT_EQ(updaterLog(), (QStringList{
                              "CheckUpdate getSoftwareVersionsTop ",
                              "CheckUpdate getFileVertion ver 1.0.0 ",
                              "CheckUpdate getFileVertion fileinfo 1.0.1 ",
                              "CheckUpdate getFileVertion lagerVer 1.0.1 ",
                              "UpdateProgram getFileVertion newUrl " + url + " ",
                              "UpdateProgram onGetExeProgress GetData " + url,
                              "UpdateProgram getFileVertion data.length() " + length + " ",
                              "UpdateProgram getFileVertion sUpdateExePath " + installer + " ",
                              "UpdateProgram getFileVertion data.length() " + length + " ",
                              QStringLiteral("UpdateProgram KillProcess %1/TavPcClient pid %2")
                                  .arg(app_)
                                  .arg(clientPid_),
                              "onGetExeFinished startDetached " + installer + " ",
                              "CheckUpdate onGetExeFinished Finished OK ",
                              "CheckUpdate onGetExeFinished Finished ",
                          }));
  EXPECT_EQ(readAll(installer), readAll(package_ + "/AutoUpdate"));

  // The installer replaced the client's files, delivered the new updater as
  // NewUpdate and started the new client.
  ASSERT_TRUE(waitUntil([&] { return clientPids().size() == 2; }));
  EXPECT_EQ(FileVersion::read(app_ + "/TavPcClient"), "1.0.1");
  EXPECT_EQ(readAll(app_ + "/videoparam.conf"), "new parameters\n");
  EXPECT_GT(QFileInfo(app_ + "/NewUpdate").size(), 0);
  EXPECT_TRUE(QFileInfo(app_ + "/NewUpdate").isExecutable());
  EXPECT_TRUE(alive(clientPids().last()));
  // Nothing of the unpacking is left beside the client.
  EXPECT_EQ(QDir(app_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            (QStringList{"NewUpdate", "TavPcClient", "TavUpdate", "videoparam.conf"}));
}

TEST_F(UpdateE2E, ATamperedInstallerIsNeitherWrittenNorStarted) {
  // The published file differs by one byte from what the release key signed.
  QByteArray bytes = readAll(package_ + "/AutoUpdate");
  bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
  const QString tampered = home_.home() + "/AutoUpdate-tampered";
  QFile f(tampered);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
  f.close();
  publish(tampered);
  const QStringList before = snapshot(app_);

  runUpdater(QStringLiteral(TAV_SCREENSHOT_DIR "/update-prompt-tampered.png"), false);

  const QStringList log = updaterLog();
  ASSERT_GE(log.size(), 3);
  EXPECT_EQ(log.mid(log.size() - 3), (QStringList{"UpdateProgram getFileVertion data.length() " +
                                                      QString::number(bytes.size()) + " ",
                                                  "CheckUpdate onGetExeFinished signature invalid ",
                                                  "CheckUpdate onGetExeFinished Finished "}));
  EXPECT_FALSE(QFile::exists(home_.dataHome() + "/TavPcClient/AutoUpdate"));
  EXPECT_EQ(snapshot(app_), before);
  EXPECT_EQ(clientPids().size(), 1);  // no new client was started
}

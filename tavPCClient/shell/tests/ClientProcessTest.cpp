// The real client program started as a process in a private HOME.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <csignal>

#include "TestSupport.h"

using testsupport::TempHome;
using testsupport::waitUntil;

namespace {
QString clientPath() {
  return testsupport::binDir() + "/TavPcClient";
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Name, size and modification time of everything below a folder.
std::vector<std::string> snapshot(const QString& folder) {
  QStringList entries;
  QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    it.next();
    const QFileInfo info = it.fileInfo();
    entries << QStringLiteral("%1 %2 %3")
                   .arg(info.filePath())
                   .arg(info.size())
                   .arg(info.lastModified().toMSecsSinceEpoch());
  }
  entries.sort();
  std::vector<std::string> out;
  for (const QString& e : entries)
    out.push_back(e.toStdString());
  return out;
}

void startClient(QProcess& process) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  process.setProcessEnvironment(env);
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process.start(clientPath(), QStringList());
}

// Up, with the login window shown, the start-up worker done writing and the
// updater it started done with its version check.
bool clientReady(const QString& dataFolder) {
  const QByteArray log = readAll(dataFolder + "MsgOutput.txt");
  return log.contains("login window shown") && log.contains("updater") &&
         (log.contains("updater not started") ||
          readAll(dataFolder + "TavUpdateLog.txt").contains("onGetVersionFinished"));
}
}  // namespace

TEST(ClientProcess, FirstRunSecondInstanceAndCrashDump) {
  ASSERT_TRUE(QFile::exists(clientPath())) << clientPath().toStdString();
  TempHome home;
  const QString data = home.clientDataFolder();

  QProcess first;
  startClient(first);
  ASSERT_TRUE(first.waitForStarted(20000));
  ASSERT_TRUE(waitUntil([&] { return clientReady(data); }, 60000));

  // First run: the settings file holds the two defaults, the folders and tables exist.
  {
    QSettings ini(data + "config.ini", QSettings::IniFormat);
    QStringList keys = ini.allKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"conf/serverIP", "conf/videoPath"}));
  }
  EXPECT_TRUE(QDir(data + "video").exists());
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "peek");
    db.setDatabaseName(data + "tavQN");
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    ASSERT_TRUE(
        q.exec("SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN "
               "('userInfo','settings')"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 2);
  }
  QSqlDatabase::removeDatabase("peek");

  // A second copy says so, ends with 0 and leaves the data folder as it was.
  const auto before = snapshot(data);
  QProcess second;
  startClient(second);
  ASSERT_TRUE(second.waitForFinished(30000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(snapshot(data), before);

  // A crash of the running copy leaves exactly one dump named by the tick count.
  ::kill(static_cast<pid_t>(first.processId()), SIGSEGV);
  ASSERT_TRUE(first.waitForFinished(30000));
  EXPECT_EQ(first.exitStatus(), QProcess::CrashExit);
  const QStringList dumps =
      QDir(home.dataHome() + "/TavPcClient").entryList({"*.dmp"}, QDir::Files);
  ASSERT_EQ(dumps.size(), 1);
  EXPECT_TRUE(QRegularExpression("^\\d+\\.dmp$").match(dumps[0]).hasMatch())
      << dumps[0].toStdString();
}

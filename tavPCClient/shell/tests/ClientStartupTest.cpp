// Start-up steps that touch the data folder and the database, run in-process.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include "ClientStartup.h"
#include "DataFolder.h"
#include "LoginDialog.h"
#include "TestSupport.h"
#include "WelcomeDlg.h"

using testsupport::TempHome;

namespace {
void touch(const QString& path) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("x");
}

// Closes the welcome pages as soon as they come up; counts how often they did.
struct WelcomeCloser {
  int seen = 0;
  QTimer timer;
  WelcomeCloser() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      if (auto* dlg = qobject_cast<WelcomeDlg*>(QApplication::activeModalWidget())) {
        ++seen;
        dlg->close();
      }
    });
    timer.start(20);
  }
};
}  // namespace

TEST(ClientStartup, NewUpdaterClearsDataFolderAndShowsWelcome) {
  TempHome home;
  const QString data = home.clientDataFolder();
  touch(data + "config.ini");
  touch(data + "tavQN");
  touch(data + "sharingPic/1/2/a.png");
  touch(data + ".hidden");
  const QString appDir = home.home() + "/app";
  touch(appDir + "/NewUpdate");

  WelcomeCloser closer;
  EXPECT_TRUE(ClientStartup::prepareDataFolder(appDir, data));
  EXPECT_EQ(closer.seen, 1);
  EXPECT_TRUE(QDir(data).exists());
  EXPECT_TRUE(
      QDir(data).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());

  // The tables come back on the emptied folder.
  EXPECT_TRUE(ClientStartup::openDatabase(data));
  EXPECT_TRUE(QFile::exists(data + "tavQN"));
}

TEST(ClientStartup, OrdinaryStartKeepsDataAndCreatesMissingFolder) {
  TempHome home;
  const QString data = home.clientDataFolder();
  touch(data + "config.ini");
  EXPECT_FALSE(ClientStartup::prepareDataFolder(home.home() + "/app", data));
  EXPECT_TRUE(QFile::exists(data + "config.ini"));

  QDir(data).removeRecursively();
  EXPECT_FALSE(ClientStartup::prepareDataFolder(home.home() + "/app", data));
  EXPECT_TRUE(QDir(data).exists());
}

TEST(ClientStartup, UncreatableDataFolderStillReachesTheLoginWindow) {
  TempHome home;
  touch(home.home() + "/blocked");  // a file where the folder's parent should be
  const QString data = home.home() + "/blocked/TavPcClient/";
  DataFolder::setPath(data);
  EXPECT_FALSE(ClientStartup::prepareDataFolder(home.home() + "/app", data));
  EXPECT_FALSE(QDir(data).exists());
  EXPECT_FALSE(ClientStartup::openDatabase(data));
  LoginDialog login;
  login.show();
  EXPECT_TRUE(login.isVisible());
}

TEST(DataFolder, RecursiveRemovalResults) {
  TempHome home;
  EXPECT_FALSE(DataFolder::removeRecursively(QString()));
  EXPECT_TRUE(DataFolder::removeRecursively(home.home() + "/absent"));
  touch(home.home() + "/tree/a/b/c.txt");
  touch(home.home() + "/keep/kept.txt");
  QFile::link(home.home() + "/keep", home.home() + "/tree/link");
  EXPECT_TRUE(DataFolder::removeRecursively(home.home() + "/tree"));
  EXPECT_FALSE(QDir(home.home() + "/tree").exists());
  EXPECT_TRUE(QFile::exists(home.home() + "/keep/kept.txt"));  // a link is not followed
}

TEST(DataFolder, RemovalLeavesEmptyParentsAlone) {
  TempHome home;
  touch(home.home() + "/only/child/file");
  EXPECT_TRUE(DataFolder::removeRecursively(home.home() + "/only/child"));
  EXPECT_TRUE(QDir(home.home() + "/only").exists());
}

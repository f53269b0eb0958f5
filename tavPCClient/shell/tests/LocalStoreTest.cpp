// Settings file, password substitution, remembered accounts and room settings.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "AccountStore.h"
#include "LocalConfig.h"
#include "LocalDatabase.h"
#include "PasswordCodec.h"
#include "TestSupport.h"

using testsupport::TempHome;

namespace {
QStringList iniKeys(const QString& file) {
  QSettings ini(file, QSettings::IniFormat);
  return ini.allKeys();
}
}  // namespace

TEST(LocalConfig, FirstRunWritesServerAndVideoPathOnly) {
  TempHome home;
  const QString folder = home.clientDataFolder();
  QDir().mkpath(folder);
  {
    LocalConfig config(folder);
    EXPECT_EQ(config.serverIP(), QString(kDefaultServiceHost));
    EXPECT_EQ(config.videoPath(), folder + "video");
    EXPECT_FALSE(config.picFileBrowsePath().isEmpty());
  }
  QStringList keys = iniKeys(folder + "config.ini");
  keys.sort();
  EXPECT_EQ(keys, (QStringList{"conf/serverIP", "conf/videoPath"}));
  EXPECT_TRUE(QDir(folder + "video").exists());
}

TEST(LocalConfig, StoredValuesWinOverDefaults) {
  TempHome home;
  const QString folder = home.clientDataFolder();
  QDir().mkpath(folder);
  {
    QSettings ini(folder + "config.ini", QSettings::IniFormat);
    ini.setValue("conf/serverIP", "class.example:8080");
    ini.setValue("conf/videoPath", home.home() + "/recordings");
    ini.setValue("conf/PicFileBrowsePath", home.home() + "/pics");
  }
  LocalConfig config(folder);
  EXPECT_EQ(config.serverIP(), QString("class.example:8080"));
  EXPECT_EQ(config.videoPath(), home.home() + "/recordings");
  EXPECT_TRUE(QDir(home.home() + "/recordings").exists());
  EXPECT_EQ(config.picFileBrowsePath(), home.home() + "/pics");

  config.setPicFileBrowsePath(home.home() + "/elsewhere");
  EXPECT_EQ(LocalConfig(folder).picFileBrowsePath(), home.home() + "/elsewhere");
}

TEST(LocalConfig, DeviceIndexOutOfRangeReadsAsZero) {
  TempHome home;
  const QString folder = home.clientDataFolder();
  QDir().mkpath(folder);
  LocalConfig config(folder);
  EXPECT_EQ(config.deviceIndex("conf/cmbCamera", 3), 0);  // missing
  config.setValue("conf/cmbCamera", 2);
  EXPECT_EQ(config.deviceIndex("conf/cmbCamera", 3), 2);
  EXPECT_EQ(config.deviceIndex("conf/cmbCamera", 2), 0);  // device gone
  config.setValue("conf/microphoneIndex", -1);
  EXPECT_EQ(config.deviceIndex("conf/microphoneIndex", 4), 0);
  config.setValue("conf/speakerIndex", "abc");
  EXPECT_EQ(config.deviceIndex("conf/speakerIndex", 4), 0);
  EXPECT_EQ(config.value("conf/cmbCamera"), QString("2"));
  EXPECT_EQ(config.value("conf/nothing"), QString());
}

TEST(LocalConfig, CorruptFileGivesDefaultsAndStaysUsable) {
  TempHome home;
  const QString folder = home.clientDataFolder();
  QDir().mkpath(folder);
  QFile file(folder + "config.ini");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  QByteArray junk;
  for (int i = 0; i < 4096; ++i)
    junk.append(char((i * 7919) & 0xff));
  file.write("[conf\nserverIP\n=\n\\\x01\x02[[[\n");
  file.write(junk);
  file.close();

  LocalConfig config(folder);
  EXPECT_FALSE(config.serverIP().isEmpty());
  EXPECT_FALSE(config.videoPath().isEmpty());
  config.setValue("conf/cmbCamera", 1);
  EXPECT_EQ(LocalConfig(folder).deviceIndex("conf/cmbCamera", 2), 1);
}

TEST(PasswordCodec, RoundTripAndLossOutsideTheTable) {
  const QString printable =
      QStringLiteral(" !\"#$%&'()*+,-./0123456789:;<=>?@ABCXYZ[\\]^_`abcxyz{|}~");
  const QString stored = PasswordCodec::encode(printable);
  EXPECT_NE(stored, printable);
  EXPECT_EQ(stored.size(), printable.size());
  EXPECT_EQ(PasswordCodec::decode(stored), printable);

  // Characters beyond plain ASCII do not survive, but the rest does.
  const QString mixed = QStringLiteral("ab密码12");
  const QString back = PasswordCodec::decode(PasswordCodec::encode(mixed));
  EXPECT_NE(back, mixed);
  EXPECT_TRUE(back.startsWith("ab") && back.endsWith("12")) << back.toStdString();
  EXPECT_EQ(PasswordCodec::encode(QString()), QString());
}

class AccountStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QDir().mkpath(home_.clientDataFolder());
    ASSERT_TRUE(LocalDatabase::open(home_.clientDataFolder() + "tavQN"));
  }
  void TearDown() override { LocalDatabase::close(); }
  TempHome home_;
};

TEST_F(AccountStoreTest, TablesAreCreatedWithTheirSchema) {
  QSqlQuery q;
  ASSERT_TRUE(q.exec("SELECT name, sql FROM sqlite_master WHERE type='table' ORDER BY name"));
  QStringList names;
  while (q.next()) {
    names << q.value(0).toString();
    if (q.value(0).toString() == "userInfo") {
      EXPECT_TRUE(q.value(1).toString().contains("'loginTime'\tTEXT"));
    }
  }
  EXPECT_EQ(names, (QStringList{"settings", "userInfo"}));
  // Opening again keeps the rows.
  ASSERT_TRUE(AccountStore::writeAccount(7, "seven", "pw"));
  ASSERT_TRUE(LocalDatabase::open(home_.clientDataFolder() + "tavQN"));
  EXPECT_EQ(AccountStore::readAccounts().size(), 1);
}

TEST_F(AccountStoreTest, SameUserTwiceLeavesOneNewerRowNewestFirst) {
  const QDateTime t0 = QDateTime::fromString("20261201-080000000", "yyyyMMdd-hhmmsszzz");
  ASSERT_TRUE(AccountStore::writeAccount(1001, "老师甲", "secret1", t0));
  ASSERT_TRUE(AccountStore::writeAccount(2002, "student", "pw2", t0.addSecs(60)));
  ASSERT_TRUE(AccountStore::writeAccount(1001, "老师甲改名", "secret2", t0.addSecs(120)));

  const QList<AccountRecord> rows = AccountStore::readAccounts();
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[0].userId, QString("1001"));
  EXPECT_EQ(rows[0].userName, QStringLiteral("老师甲改名"));
  EXPECT_EQ(rows[0].password, QString("secret2"));
  EXPECT_EQ(rows[0].autoLogin, QString("true"));
  EXPECT_EQ(rows[0].loginTime, QString("20261201-080200000"));
  EXPECT_EQ(rows[1].userName, QString("student"));

  // The password is not stored in the clear.
  QSqlQuery q;
  ASSERT_TRUE(q.exec("SELECT Pwd FROM userInfo WHERE userId='1001'"));
  ASSERT_TRUE(q.next());
  EXPECT_NE(q.value(0).toString(), QString("secret2"));
}

TEST_F(AccountStoreTest, RoomSettingsPerUserAndRoom) {
  EXPECT_EQ(AccountStore::readRoomSetting(5, 77), QString());
  ASSERT_TRUE(AccountStore::writeRoomSetting(5, 77, "contentArea"));
  ASSERT_TRUE(AccountStore::writeRoomSetting(5, 78, "contentAndVideoArea"));
  ASSERT_TRUE(AccountStore::writeRoomSetting(5, 77, "contentAndVideoArea"));
  EXPECT_EQ(AccountStore::readRoomSetting(5, 77), QString("contentAndVideoArea"));
  EXPECT_EQ(AccountStore::readRoomSetting(6, 77), QString());
  QSqlQuery q;
  ASSERT_TRUE(q.exec("SELECT settingItem FROM settings ORDER BY settingItem"));
  ASSERT_TRUE(q.next());
  EXPECT_EQ(q.value(0).toString(), QString("5,77"));
}

TEST(AccountStoreClosed, NoDatabaseMeansNoRowsAndNoWrites) {
  TempHome home;
  // A folder that does not exist cannot hold the database.
  EXPECT_FALSE(LocalDatabase::open(home.home() + "/missing/dir/tavQN"));
  EXPECT_FALSE(LocalDatabase::isOpen());
  EXPECT_TRUE(AccountStore::readAccounts().isEmpty());
  EXPECT_FALSE(AccountStore::writeAccount(1, "a", "b"));
  EXPECT_EQ(AccountStore::readRoomSetting(1, 2), QString());
  EXPECT_FALSE(AccountStore::writeRoomSetting(1, 2, "contentArea"));
}

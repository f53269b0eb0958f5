// The updater's run, driven through its slots: which answers lead to an
// update, what is asked, ended and logged, and the progress dialog.
#include <gtest/gtest.h>

#include <sodium.h>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include "TestSupport.h"
#include "updater/DownloadUpdateDialog.h"
#include "updater/FileVersion.h"
#include "updater/UpdateManager.h"
#include "updater/UpdatePrompt.h"

using testsupport::waitUntil;

// Failures show texts, not UTF-16 code units.
void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

const QString kSomeSignature = QString::fromLatin1(QByteArray(64, '\x11').toBase64());
// Nothing listens there: a download fails at once.
const QString kDeadUrl = QStringLiteral("http://127.0.0.1:1/download/AutoUpdate-9");

// Presses "立即升级" on the prompt whenever one is up, remembering its texts.
struct PromptAnswerer {
  QStringList seen;
  QTimer timer;
  PromptAnswerer() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      auto* prompt = qobject_cast<UpdatePrompt*>(QApplication::activeModalWidget());
      if (!prompt)
        return;
      QStringList texts{prompt->windowTitle()};
      for (auto* label : prompt->findChildren<QLabel*>())
        if (!label->text().isEmpty())
          texts << label->text();
      for (auto* button : prompt->findChildren<QPushButton*>())
        if (button->isVisibleTo(prompt))
          texts << button->text();
      texts.sort();
      seen = texts;
      for (auto* button : prompt->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("立即升级"))
          button->click();
    });
    timer.start(20);
  }
};

// The download side of a release: answers every request on an ephemeral loopback port
// with `status` and `body`; a cut body is announced whole but the connection closes
// halfway through it.
struct InstallerServer {
  QByteArray body;
  int status = 200;
  bool cut = false;
  QTcpServer server;

  InstallerServer() {
    EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = server.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
          if (!socket->peek(64 * 1024).contains("\r\n\r\n"))
            return;  // the request head is not complete yet
          socket->readAll();
          const QByteArray sent = cut ? body.left(body.size() / 2) : body;
          socket->write(QStringLiteral("HTTP/1.1 %1 X\r\nContent-Length: %2\r\n"
                                       "Connection: close\r\n\r\n")
                            .arg(status)
                            .arg(body.size())
                            .toLatin1() +
                        sent);
          socket->disconnectFromHost();
        });
      }
    });
  }
  QString url() const {
    return QStringLiteral("http://127.0.0.1:%1/download/AutoUpdate").arg(server.serverPort());
  }
};

// A release key pair of the test's own.
struct ReleaseKey {
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
  ReleaseKey() {
    EXPECT_EQ(sodium_init() >= 0, true);
    crypto_sign_keypair(publicKey, secretKey);
  }
  QByteArray publicBytes() const {
    return QByteArray(reinterpret_cast<const char*>(publicKey), sizeof publicKey);
  }
  // The signature as the version answer carries it.
  QString sign(const QByteArray& bytes) const {
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(bytes.data()),
                         static_cast<unsigned long long>(bytes.size()), secretKey);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(signature), sizeof signature).toBase64());
  }
};

class UpdateRun : public ::testing::Test {
protected:
  void SetUp() override {
    setup_.appDir = dir_.filePath("app");
    setup_.dataFolder = dir_.filePath("data") + '/';
    setup_.installerFolder = dir_.filePath("local/TavPcClient");
    setup_.publicKey = QByteArray(32, '\x22');
    setup_.ownVersion = "1.0.0";
    setup_.endProcess = [this](const std::string& path) {
      // Always the program of this install, by its full path.
      const QString program = QString::fromStdString(path);
      const QString name = QFileInfo(program).fileName();
      ended_ << (program.startsWith(setup_.appDir + '/') ? name : program);
      if (name == QLatin1String("TavPcClient"))
        installerWhenEnded_ = QFile::exists(setup_.installerFolder + "/AutoUpdate");
      // A client runs (and is ended); nothing else does.
      return name == QLatin1String("TavPcClient") ? std::vector<int>{4242} : std::vector<int>{};
    };
    QDir().mkpath(setup_.appDir);
    QDir().mkpath(setup_.dataFolder);
  }

  void installClient(const QByteArray& bytes) {
    QFile f(setup_.appDir + "/TavPcClient");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  void installClientVersion(const QString& version) {
    installClient(
        "\x7f"
        "ELF..." +
        QByteArray(FileVersion::kMarker) + version.toLatin1() + QByteArray(1, '\0') + "...");
  }

  std::unique_ptr<UpdateManager> start() {
    auto manager = std::make_unique<UpdateManager>(setup_);
    finished_ = std::make_unique<QSignalSpy>(manager.get(), &UpdateManager::onFinished);
    return manager;
  }

  QStringList logLines() const {
    QFile f(setup_.dataFolder + "TavUpdateLog.txt");
    if (!f.open(QIODevice::ReadOnly))
      return {};
    QStringList lines = QString::fromLocal8Bit(f.readAll()).split('\n');
    lines.removeLast();  // after the last "\n"
    return lines;
  }

  static QJsonObject answer(const QString& info, const QString& url = kDeadUrl,
                            const QString& signature = kSomeSignature) {
    QJsonObject obj{{"code", 0}, {"msg", ""}, {"info", info}, {"url", url}};
    if (!signature.isNull())
      obj.insert("signature", signature);
    return obj;
  }

  // The run ended: onFinished(0) once, and a leftover new updater ended.
  void expectEnded() {
    ASSERT_TRUE(waitUntil([&] { return finished_->count() > 0; }));
    EXPECT_EQ(finished_->count(), 1);
    EXPECT_EQ(finished_->first().first().toInt(), 0);
    EXPECT_EQ(ended_.last(), "NewUpdate");
  }

  QTemporaryDir dir_;
  UpdateManager::Setup setup_;
  QStringList ended_;
  bool installerWhenEnded_ = false;
  std::unique_ptr<QSignalSpy> finished_;
};

}  // namespace

TEST_F(UpdateRun, NoAnswerAFailingCodeOrAnUnreadableAnswerEndQuietly) {
  installClientVersion("1.0.0");
  const QJsonObject noVersion{{"code", 0}, {"url", kDeadUrl}};
  const QJsonObject failing{{"code", 404}, {"msg", "暂无版本信息！"}};
  for (const QJsonObject& obj :
       {QJsonObject(), failing, noVersion, answer("1.0.x"), answer("2.0", "file:///etc/passwd"),
        answer("2.0", "not a url"), answer("2.0", "http:///download/x")}) {
    auto manager = start();
    manager->onGetVersionFinished(obj);
    expectEnded();
    EXPECT_EQ(logLines(),
              QStringList{obj.isEmpty() ? "CheckUpdate onGetVersionFinished isEmpty "
                                        : "CheckUpdate onGetVersionFinished Finished "});
    EXPECT_EQ(ended_, QStringList{"NewUpdate"});  // the client was left alone
    ended_.clear();
  }
}

TEST_F(UpdateRun, TheServerVersionIsTakenOnlyWhenItIsTheLargerAndDiffers) {
  struct Case {
    const char* server;
    const char* installed;  // null: a client whose version cannot be read
    bool update;
  };
  // Without the client's version nothing older than the updater's own (1.0.0) is taken.
  const Case cases[] = {
      {"1.0.0.20", "1.0.0.19", true}, {"1.0.0.19", "1.0.0.19", false},
      {"1.0.1", "1.0.0.19", true},    {"1.0.0", "1.0.0.1", false},
      {"1.0.0.1", "1.0.0", true},     {"1.0.0.09", "1.0.0.9", false},
      {"1.0.0.10", "1.0.0.9", true},  {"1.0.0", nullptr, true},
      {"1.0.1", nullptr, true},       {"0.9.9", nullptr, false},
      {"1.0", nullptr, false},
  };
  PromptAnswerer answerer;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.server) + " over " + (c.installed ? c.installed : "none"));
    if (c.installed)
      installClientVersion(c.installed);
    else
      installClient(
          "\x7f"
          "ELF without a version");
    ended_.clear();
    auto manager = start();
    manager->onGetVersionFinished(answer(c.server));
    expectEnded();
    QStringList expected;
    if (c.installed)
      expected << QStringLiteral("CheckUpdate getFileVertion ver %1 ").arg(c.installed)
               << QStringLiteral("CheckUpdate getFileVertion fileinfo %1 ").arg(c.server)
               << QStringLiteral("CheckUpdate getFileVertion lagerVer %1 ")
                      .arg(FileVersion::larger(c.installed, c.server));
    else
      expected << "CheckUpdate getFileVertion ver unknown, updater 1.0.0 "
               << QStringLiteral("CheckUpdate getFileVertion fileinfo %1 ").arg(c.server);
    if (c.update)
      // Asked and download tried; nothing listens: no data, nothing written, nobody ended.
      expected << "UpdateProgram getFileVertion newUrl " + kDeadUrl + " "
               << "UpdateProgram onGetExeProgress GetData " + kDeadUrl
               << "UpdateProgram getFileVertion data.length() 0 "
               << "CheckUpdate onGetExeFinished Finished NULL"
               << "CheckUpdate onGetExeFinished Finished ";
    else
      expected << "CheckUpdate onGetVersionFinished Finished ";
    EXPECT_EQ(logLines(), expected);
    EXPECT_EQ(ended_, QStringList{"NewUpdate"});
    EXPECT_FALSE(QFile::exists(setup_.installerFolder + "/AutoUpdate"));
  }
  QStringList texts{"塔维网升级", "塔维网温馨提示", "发现新版本请关掉程序开始升级。", "立即升级",
                    "×"};
  texts.sort();
  EXPECT_EQ(answerer.seen, texts);
}

TEST_F(UpdateRun, AnUpdateWithoutASignatureIsNotOfferedNorDownloaded) {
  installClientVersion("1.0.0");
  PromptAnswerer answerer;
  for (const QString& signature :
       {QString(), QString(""), QString("AAAA"), kSomeSignature.left(80)}) {
    ended_.clear();
    auto manager = start();
    manager->onGetVersionFinished(answer("1.0.1", kDeadUrl, signature));
    expectEnded();
    EXPECT_EQ(logLines().mid(3),
              QStringList{"CheckUpdate onGetVersionFinished signature missing "});
    EXPECT_EQ(ended_, QStringList{"NewUpdate"});
  }
  EXPECT_TRUE(answerer.seen.isEmpty());
}

TEST_F(UpdateRun, TheClientIsEndedOnlyOnceAVerifiedInstallerIsInPlace) {
  installClientVersion("1.0.0");
  PromptAnswerer answerer;
  InstallerServer server;
  const ReleaseKey key, otherKey;
  setup_.publicKey = key.publicBytes();
  // The installer says it ran by a file beside the install folder.
  const QString ran = dir_.filePath("installer-ran");
  const QByteArray release =
      "#!/bin/sh\n# TAVFILEVERSION:1.0.1\ntouch \"$TAV_INSTALL_DIR/../installer-ran\"\n";
  const QByteArray older =
      "#!/bin/sh\n# TAVFILEVERSION:1.0.0\ntouch \"$TAV_INSTALL_DIR/../installer-ran\"\n";
  struct Case {
    const char* what;
    QByteArray served;
    QString signature;
    bool cut;
    int status;
    const char* outcome;  // the refusal's log line
  };
  const Case refused[] = {
      {"signature of other bytes", release, key.sign(release + "\n"), false, 200,
       "CheckUpdate onGetExeFinished signature invalid "},
      {"signed by another key", release, otherKey.sign(release), false, 200,
       "CheckUpdate onGetExeFinished signature invalid "},
      {"another release's signed installer", older, key.sign(older), false, 200,
       "CheckUpdate onGetExeFinished version mismatch 1.0.0 "},
      {"cut short", release, key.sign(release), true, 200,
       "CheckUpdate onGetExeFinished Finished NULL"},
      {"not found", release, key.sign(release), false, 404,
       "CheckUpdate onGetExeFinished Finished NULL"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.what);
    server.body = c.served;
    server.cut = c.cut;
    server.status = c.status;
    ended_.clear();
    auto manager = start();
    manager->onGetVersionFinished(answer("1.0.1", server.url(), c.signature));
    expectEnded();
    const QStringList log = logLines();
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log.mid(log.size() - 2),
              (QStringList{c.outcome, "CheckUpdate onGetExeFinished Finished "}));
    EXPECT_EQ(ended_, QStringList{"NewUpdate"});  // the client runs on
    EXPECT_FALSE(QDir(setup_.installerFolder).exists());
  }

  server.body = release;
  server.cut = false;
  server.status = 200;
  ended_.clear();
  auto manager = start();
  manager->onGetVersionFinished(answer("1.0.1", server.url(), key.sign(release)));
  expectEnded();
  ASSERT_TRUE(waitUntil([&] { return QFile::exists(ran); }));
  EXPECT_EQ(ended_, (QStringList{"TavPcClient", "NewUpdate"}));
  EXPECT_TRUE(installerWhenEnded_);
  const QStringList log = logLines();
  ASSERT_GE(log.size(), 4);
  EXPECT_EQ(
      log.mid(log.size() - 4),
      (QStringList{"UpdateProgram KillProcess " + setup_.appDir + "/TavPcClient pid 4242",
                   "onGetExeFinished startDetached " + setup_.installerFolder + "/AutoUpdate ",
                   "CheckUpdate onGetExeFinished Finished OK ",
                   "CheckUpdate onGetExeFinished Finished "}));
}

TEST_F(UpdateRun, ProgressIsAPercentageOfAKnownTotalAndTheDialogClosesAfterAHundred) {
  auto manager = start();
  DownloadUpdateDialog* dialog = manager->progressDialog();
  dialog->show();
  manager->onGetExeProgress(10, 0);  // total not known: nothing to divide by
  manager->onGetExeProgress(10, -1);
  EXPECT_EQ(dialog->progress(), 0);
  manager->onGetExeProgress(3000000000LL, 6000000000LL);  // beyond 32 bits
  EXPECT_EQ(dialog->progress(), 50);
  QDir().mkpath(TAV_SCREENSHOT_DIR);
  EXPECT_TRUE(dialog->grab().save(TAV_SCREENSHOT_DIR "/update-progress.png"));
  manager->onGetExeProgress(999, 1000);
  EXPECT_EQ(dialog->progress(), 99);
  EXPECT_TRUE(dialog->isVisible());
  manager->onGetExeProgress(1000, 1000);
  EXPECT_EQ(dialog->progress(), 100);
  ASSERT_TRUE(waitUntil([&] { return !dialog->isVisible(); }));
  EXPECT_EQ(dialog->windowTitle(), "塔维网升级");
  ASSERT_EQ(dialog->findChildren<QLabel*>().size(), 1);
  EXPECT_EQ(dialog->findChild<QLabel*>()->text(), "正在下载升级包");
}

TEST_F(UpdateRun, SettingsComeFromTheClientsConfigAndALogThatCannotOpenIsSkipped) {
  {
    QSettings ini(setup_.dataFolder + "config.ini", QSettings::IniFormat);
    ini.setValue("conf/serverIP", "10.1.2.3:8080");
  }
  EXPECT_EQ(start()->host(), "10.1.2.3:8080");
  QFile::remove(setup_.dataFolder + "config.ini");
  EXPECT_EQ(start()->host(), "127.0.0.1:27800");
  EXPECT_FALSE(QFile::exists(setup_.dataFolder + "config.ini"));  // read, never written

  setup_.dataFolder = dir_.filePath("missing") + '/';
  auto manager = start();
  manager->onGetVersionFinished(QJsonObject());
  expectEnded();
  EXPECT_FALSE(QDir(setup_.dataFolder).exists());
}

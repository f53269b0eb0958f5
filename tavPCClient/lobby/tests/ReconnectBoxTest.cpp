// The lobby while the message server is away: one reconnect box, endless
// re-creation, and the box goes when the server is back.
#include <gtest/gtest.h>

#include <QTcpServer>

#include "DataFolder.h"
#include "LocalConfig.h"
#include "LoginInfo.h"
#include "QNMessageBox.h"
#include "TestCredentials.h"
#include "TestSupport.h"
#include "UserDialog.h"
#include "msgserver/Server.h"

using testsupport::TempHome;
using testsupport::waitUntil;

TEST(ReconnectBox, OneBoxWhileAwayClosedWhenBack) {
  TempHome home;
  DataFolder::setPath(home.clientDataFolder());
  QTcpServer quiet;  // the service: never answers
  ASSERT_TRUE(quiet.listen(QHostAddress::LocalHost, 0));
  LocalConfig::instance()->setServerIP(QStringLiteral("127.0.0.1:%1").arg(quiet.serverPort()));

  // A port where nothing listens yet.
  QTcpServer probe;
  ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
  const quint16 port = probe.serverPort();
  probe.close();

  // What the login answer gave the lobby's user 500 for the one-login channel.
  LoginInfo::current().oneLoginCredential =
      QString::fromStdString(testsupport::testCredential(500, ForOneLogin::kChannel));
  auto* box = new QNMessageBox;
  QNMessageBox::setGlobal(box);
  {
    UserDialog lobby("t", "127.0.0.1:1", 500, QStringLiteral("127.0.0.1:%1").arg(port));
    lobby.show();
    ASSERT_TRUE(waitUntil([&] { return box->isVisible(); }));
    EXPECT_EQ(box->message(), QStringLiteral("您已掉线，重连中..."));
    EXPECT_FALSE(box->buttonsVisible());
    // Failures go on (the client is made again and again) with the one box up.
    int failures = 0;
    QObject::connect(&lobby.oneLogin(), &ForOneLogin::_connect2msgs_state, [&](int s) {
      if (s != 1)
        ++failures;
    });
    ASSERT_TRUE(waitUntil([&] { return failures >= 2; }));
    EXPECT_TRUE(box->isVisible());

    // The server comes up on that port: the next attempt connects and the box goes.
    msgserver::Config config;
    config.listen_port = port;
    config.internal_token = testsupport::kTestSecret;
    msgserver::Server server(config);
    ASSERT_EQ(server.start(), port);
    ASSERT_TRUE(waitUntil([&] { return !box->isVisible(); }, 30000));
  }
  QNMessageBox::setGlobal(nullptr);
  delete box;
  LoginInfo::current() = LoginInfo();
}

// Two logins of one account on the real message server.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "ForOneLogin.h"
#include "LoginInfo.h"
#include "TestCredentials.h"
#include "TestSupport.h"
#include "msgserver/Server.h"

using testsupport::waitUntil;

namespace {
struct RunningServer {
  msgserver::Server server{[] {
    msgserver::Config config;
    config.listen_port = 0;
    config.internal_token = testsupport::kTestSecret;
    return config;
  }()};
  quint16 port = server.start();
};

// Signs in as userId the way the login answer does: its one-login credential.
void signIn(quint32 userId) {
  LoginInfo::current().oneLoginCredential =
      QString::fromStdString(testsupport::testCredential(userId, ForOneLogin::kChannel));
}

// Connects a login of userId and waits until its announcement went out.
bool connectAndAnnounce(ForOneLogin& login, quint32 userId, QSignalSpy& states, quint16 port) {
  signIn(userId);
  login.connectTo(QStringLiteral("127.0.0.1"), port);
  if (!waitUntil([&] { return states.count() > 0; }))
    return false;
  return states.first().first().toInt() == 1 && login.announce();
}
}  // namespace

TEST(OneLoginChannel, LoginFromAnotherAddressSendsTheFirstAway) {
  RunningServer running;
  ASSERT_NE(running.port, 0);

  ForOneLogin first(42, QStringLiteral("10.0.0.1"));
  QSignalSpy firstStates(&first, &ForOneLogin::_connect2msgs_state);
  QSignalSpy firstKicked(&first, &ForOneLogin::signal_SelfLogin);
  ASSERT_TRUE(connectAndAnnounce(first, 42, firstStates, running.port));

  // The same account from the same address: nobody is sent away.
  ForOneLogin sameMachine(42, QStringLiteral("10.0.0.1"));
  QSignalSpy sameStates(&sameMachine, &ForOneLogin::_connect2msgs_state);
  QSignalSpy sameKicked(&sameMachine, &ForOneLogin::signal_SelfLogin);
  ASSERT_TRUE(connectAndAnnounce(sameMachine, 42, sameStates, running.port));

  // Another account announcing elsewhere does not matter either.
  ForOneLogin otherUser(43, QStringLiteral("10.0.0.7"));
  QSignalSpy otherStates(&otherUser, &ForOneLogin::_connect2msgs_state);
  ASSERT_TRUE(connectAndAnnounce(otherUser, 43, otherStates, running.port));

  // The same account from another address: the earlier logins go.
  ForOneLogin second(42, QStringLiteral("10.0.0.2"));
  QSignalSpy secondStates(&second, &ForOneLogin::_connect2msgs_state);
  QSignalSpy secondKicked(&second, &ForOneLogin::signal_SelfLogin);
  ASSERT_TRUE(connectAndAnnounce(second, 42, secondStates, running.port));

  ASSERT_TRUE(waitUntil([&] { return firstKicked.count() > 0 && sameKicked.count() > 0; }));
  // The newest login hears only its own echo, which does not count.
  EXPECT_EQ(secondKicked.count(), 0);
  // Before the second login nobody had been sent away: each kick came after it.
  EXPECT_EQ(firstKicked.count(), 1);
}

// A one-login client shows the credential of the login; without it the server refuses.
TEST(OneLoginChannel, ConnectsOnlyWithTheLoginsCredential) {
  RunningServer running;
  ForOneLogin login(9, QStringLiteral("10.0.0.1"));
  QSignalSpy states(&login, &ForOneLogin::_connect2msgs_state);
  signIn(8);  // another account's
  login.connectTo(QStringLiteral("127.0.0.1"), running.port);
  ASSERT_TRUE(waitUntil([&] { return states.count() > 0; }));
  EXPECT_EQ(states.first().first().toInt(), velmsg::connect_failed_rejected);
  states.clear();
  signIn(9);
  login.connectTo(QStringLiteral("127.0.0.1"), running.port);
  ASSERT_TRUE(waitUntil([&] { return states.count() > 0; }));
  EXPECT_EQ(states.first().first().toInt(), 1);
}

TEST(OneLoginChannel, LostServerIsReported) {
  auto running = std::make_unique<RunningServer>();
  ForOneLogin login(7, QStringLiteral("10.0.0.1"));
  QSignalSpy states(&login, &ForOneLogin::_connect2msgs_state);
  QSignalSpy lost(&login, &ForOneLogin::signal_disconnect_from_oneLogin);
  ASSERT_TRUE(connectAndAnnounce(login, 7, states, running->port));
  const quint16 port = running->port;
  running.reset();  // the server goes away
  ASSERT_TRUE(waitUntil([&] { return lost.count() == 1; }));

  // Nothing listens now: a fresh client reports a failed connection.
  states.clear();
  login.connectTo(QStringLiteral("127.0.0.1"), port);
  ASSERT_TRUE(waitUntil([&] { return states.count() > 0; }));
  EXPECT_NE(states.first().first().toInt(), 1);
}

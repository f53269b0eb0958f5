// The one-login announcement and how another machine's announcement is told apart.
#include <gtest/gtest.h>

#include <QHostAddress>

#include "ForOneLogin.h"
#include "LoginInfo.h"

TEST(ForOneLogin, AnnouncementHasNoBlanksOrLineFeeds) {
  const QByteArray text = ForOneLogin::announcement(42, QStringLiteral("10.0.0.5"));
  EXPECT_EQ(text, QByteArray(R"({"content":"10.0.0.5","sendUserId":42,"typeId":"1"})"));
  EXPECT_FALSE(text.contains(' '));
  EXPECT_FALSE(text.contains('\n'));
}

TEST(ForOneLogin, OnlyAnotherAddressOfTheSameAccountCounts) {
  const QString mine = QStringLiteral("10.0.0.5");
  EXPECT_TRUE(ForOneLogin::isLoginElsewhere(ForOneLogin::announcement(42, "10.0.0.9"), 42, mine));
  // The same address (our own echo, or a second login from this machine) does not.
  EXPECT_FALSE(ForOneLogin::isLoginElsewhere(ForOneLogin::announcement(42, mine), 42, mine));
  // Other accounts, other types, a number typeId, a string sender id, junk.
  EXPECT_FALSE(ForOneLogin::isLoginElsewhere(ForOneLogin::announcement(43, "10.0.0.9"), 42, mine));
  EXPECT_FALSE(
      ForOneLogin::isLoginElsewhere(R"({"typeId":"0","sendUserId":42,"content":"x"})", 42, mine));
  EXPECT_FALSE(
      ForOneLogin::isLoginElsewhere(R"({"typeId":1,"sendUserId":42,"content":"x"})", 42, mine));
  EXPECT_TRUE(
      ForOneLogin::isLoginElsewhere(R"({"typeId":"1","sendUserId":"42","content":"x"})", 42, mine));
  EXPECT_FALSE(ForOneLogin::isLoginElsewhere("not json", 42, mine));
  EXPECT_FALSE(ForOneLogin::isLoginElsewhere("[1,2]", 42, mine));
}

TEST(LoginInfo, OwnAddressIsIPv4AndNeverLoopbackUnlessAlone) {
  const QString address = ownIPv4Address();
  QHostAddress parsed;
  ASSERT_TRUE(parsed.setAddress(address));
  EXPECT_EQ(parsed.protocol(), QAbstractSocket::IPv4Protocol);
}

// The login window and the lobby against the real service and message server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>

#include "AccountStore.h"
#include "AuthorizeDialog.h"
#include "ClassInformationWidget.h"
#include "DataFolder.h"
#include "HttpRequest.h"
#include "InProcessServers.h"
#include "LocalConfig.h"
#include "LocalDatabase.h"
#include "LoginDialog.h"
#include "LoginInfo.h"
#include "PagingWidget.h"
#include "Prompt.h"
#include "QNMessageBox.h"
#include "TestSupport.h"
#include "UserDialog.h"

using testsupport::TempHome;
using testsupport::waitUntil;

namespace {

// Answers the classroom's leave question with OK once it shows.
void acceptLeaveQuestion() {
  QTimer::singleShot(0, [] {
    testsupport::waitUntil([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
    if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
      box->accept();
  });
}
using Servers = testsupport::InProcessServers;

// A client data folder with its database, pointed at host.
struct ClientHome {
  TempHome home;
  explicit ClientHome(const QString& host) {
    QDir().mkpath(home.clientDataFolder());
    DataFolder::setPath(home.clientDataFolder());
    LocalDatabase::open(home.clientDataFolder() + "tavQN");
    LocalConfig::instance()->setServerIP(host);
    LoginInfo::current() = LoginInfo();
  }
  ~ClientHome() {
    // Requests still on their way are finished first: a request cut off half
    // sent would keep the service waiting for its rest when it stops.
    waitUntil([] { return HttpRequest::pendingCount() == 0; });
    for (int i = 0; i < 3; ++i)
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    LocalDatabase::close();
  }
};

void typeAndLogin(LoginDialog& login, const QString& account, const QString& password) {
  login.accountBox()->setEditText(account);
  login.passwordEdit()->setText(password);
  login.loginButton()->click();
}
}  // namespace

TEST(LoginService, FailureTextsOfEachKind) {
  Servers servers;
  ASSERT_TRUE(servers.started());
  ClientHome client(servers.host());
  LoginDialog login;
  login.show();

  typeAndLogin(login, "", "x");
  EXPECT_EQ(login.statusLabel()->text(), QStringLiteral("请输入用户名......"));
  typeAndLogin(login, "teacher", "");
  EXPECT_EQ(login.statusLabel()->text(), QStringLiteral("请输入密码......"));

  typeAndLogin(login, "teacher", "wrong");
  EXPECT_EQ(login.statusLabel()->text(), QStringLiteral("正在登录......"));
  EXPECT_FALSE(login.loginButton()->isEnabled());
  ASSERT_TRUE(waitUntil([&] { return login.loginButton()->isEnabled(); }));
  // The server's own words are shown as they come.
  EXPECT_FALSE(login.statusLabel()->text().isEmpty());
  EXPECT_NE(login.statusLabel()->text(), QStringLiteral("正在登录......"));
  EXPECT_EQ(login.lobby(), nullptr);

  servers.stopService();
  typeAndLogin(login, "teacher", "123456");
  ASSERT_TRUE(waitUntil([&] { return login.loginButton()->isEnabled(); }));
  EXPECT_EQ(login.statusLabel()->text(), QStringLiteral("网络异常，登录失败！"));
}

TEST(LoginService, SuccessOpensTheLobbyAndRemembersTheAccount) {
  Servers servers;
  ASSERT_TRUE(servers.started());
  ClientHome client(servers.host());
  {
    LoginDialog login;
    login.show();
    typeAndLogin(login, "teacher", "123456");
    ASSERT_TRUE(waitUntil([&] { return login.lobby() != nullptr; }));
    EXPECT_FALSE(login.isVisible());
    EXPECT_TRUE(login.lobby()->isVisible());
    EXPECT_GT(LoginInfo::current().userId, 0u);
    EXPECT_FALSE(LoginInfo::current().ticket.isEmpty());

    // The lobby fills its lists from the service: seven own rooms, three pages.
    UserDialog* lobby = login.lobby();
    ASSERT_TRUE(waitUntil([&] { return lobby->createdCards().size() == 7; }));
    EXPECT_EQ(lobby->teachPager()->pageCount(), 3u);
    EXPECT_TRUE(waitUntil([&] { return !lobby->versionText().isEmpty(); }));
    lobby->close();
  }

  // The account is remembered under its display name, and a fresh login
  // window offers it with the password; another letter case finds it too.
  const QList<AccountRecord> accounts = AccountStore::readAccounts();
  ASSERT_EQ(accounts.size(), 1);
  EXPECT_EQ(accounts[0].password, QString("123456"));
  LoginDialog again;
  ASSERT_EQ(again.accountBox()->count(), 1);
  EXPECT_EQ(again.passwordEdit()->text(), QString("123456"));
  again.accountBox()->setEditText("someone else");
  EXPECT_TRUE(again.passwordEdit()->text().isEmpty());

  // Names are matched without regard to letter case.
  ASSERT_TRUE(
      AccountStore::writeAccount(77, "Anna", "pw-anna", QDateTime::currentDateTime().addDays(-1)));
  LoginDialog third;
  ASSERT_EQ(third.accountBox()->count(), 2);
  third.accountBox()->setEditText("aNNA");
  EXPECT_EQ(third.passwordEdit()->text(), QString("pw-anna"));

  // Logging in with the remembered name works as well.
  again.show();
  typeAndLogin(again, accounts[0].userName, "123456");
  ASSERT_TRUE(waitUntil([&] { return again.lobby() != nullptr; }));
  again.lobby()->close();
}

TEST(LoginService, RoomEntryRulesFromTheService) {
  Servers servers;
  ASSERT_TRUE(servers.started());
  ClientHome client(servers.host());
  LoginDialog login;
  login.show();
  typeAndLogin(login, "teacher", "123456");
  ASSERT_TRUE(waitUntil([&] { return login.lobby() != nullptr; }));
  UserDialog* lobby = login.lobby();
  ASSERT_TRUE(waitUntil([&] { return lobby->createdCards().size() == 7; }));

  // The owner of a room that is not activated is told so and stays in the lobby.
  ClassInformationWidget* inactive = nullptr;
  for (ClassInformationWidget* c : lobby->createdCards())
    if (c->roomId() == 1004)
      inactive = c;
  ASSERT_NE(inactive, nullptr);
  lobby->slot_EnterClassroom(inactive);
  ASSERT_TRUE(waitUntil([&] { return !lobby->entryPending(); }));
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("您的教室未激活，请激活！"));
  EXPECT_EQ(lobby->classroom(), nullptr);

  // An ordinary room opens the classroom with the servers of the answer.
  ClassInformationWidget* math = nullptr;
  for (ClassInformationWidget* c : lobby->createdCards())
    if (c->roomId() == 1001)
      math = c;
  ASSERT_NE(math, nullptr);
  lobby->slot_EnterClassroom(math);
  ASSERT_TRUE(waitUntil([&] { return lobby->classroom() != nullptr; }));
  EXPECT_GT(lobby->classroom()->entry().chatServer.port, 0);
  EXPECT_FALSE(lobby->classroom()->entry().mcuAddress.isEmpty());
  acceptLeaveQuestion();
  lobby->classroom()->close();
  lobby->close();
}

// The service judges the code: a wrong one is said in the dialog, Cancel leaves
// the lobby as it was, the right one opens the classroom, which keeps the code
// for renewing its credential.
TEST(LoginService, PrivateRoomCodeIsCheckedByTheService) {
  Servers servers;
  ASSERT_TRUE(servers.started());
  ClientHome client(servers.host());
  LoginDialog login;
  login.show();
  typeAndLogin(login, "student1", "123456");
  ASSERT_TRUE(waitUntil([&] { return login.lobby() != nullptr; }));
  UserDialog* lobby = login.lobby();
  ASSERT_TRUE(waitUntil([&] { return !lobby->joinedCards().isEmpty(); }));
  ClassInformationWidget* privateRoom = nullptr;
  for (ClassInformationWidget* c : lobby->joinedCards())
    if (c->roomId() == 1003)
      privateRoom = c;
  ASSERT_NE(privateRoom, nullptr);

  // The code dialog comes up; a wrong code keeps it there, Cancel ends the entry.
  bool typed = false, refusedSeen = false;
  Prompt::instance()->showMessage(lobby, QString());
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<AuthorizeDialog*>(QApplication::activeModalWidget());
    if (!dialog)
      return;
    if (!typed) {
      typed = true;
      dialog->codeEdit()->setText("0000");
      dialog->slot_ButtonOK();
    } else if (Prompt::instance()->text() == QStringLiteral("授权码错误！")) {
      refusedSeen = dialog->isVisible();
      dialog->reject();
    }
  });
  poll.start(20);
  lobby->slot_EnterClassroom(privateRoom);
  ASSERT_TRUE(waitUntil([&] { return refusedSeen && !lobby->entryPending(); }));
  poll.stop();
  EXPECT_EQ(lobby->classroom(), nullptr);
  EXPECT_TRUE(lobby->isVisible());
  EXPECT_TRUE(privateRoom->enterEnabled());

  QTimer right;
  QObject::connect(&right, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<AuthorizeDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog->codeEdit()->text() == QStringLiteral("2468"))
      return;
    dialog->codeEdit()->setText("2468");
    dialog->slot_ButtonOK();
  });
  right.start(20);
  lobby->slot_EnterClassroom(privateRoom);
  ASSERT_TRUE(waitUntil([&] { return lobby->classroom() != nullptr; }));
  right.stop();
  EXPECT_EQ(lobby->classroom()->entry().authCode, QStringLiteral("2468"));
  EXPECT_FALSE(lobby->classroom()->entry().credential.isEmpty());
  acceptLeaveQuestion();
  lobby->classroom()->close();
  lobby->close();
}

TEST(LoginService, LoginElsewhereSendsTheLobbyBackToTheLoginWindow) {
  Servers servers;
  ASSERT_TRUE(servers.started());
  ClientHome client(servers.host());
  auto* login = new LoginDialog;
  LoginDialog::setCurrent(login);
  login->show();
  typeAndLogin(*login, "teacher", "123456");
  ASSERT_TRUE(waitUntil([&] { return login->lobby() != nullptr; }));
  QPointer<UserDialog> lobby = login->lobby();
  const LoginInfo info = LoginInfo::current();
  const ServerAddress msg = ServerAddress::parse(info.oneLoginServer);
  ASSERT_GT(msg.port, 0);
  // Wait until the lobby's own announcement is out, then sign in from elsewhere.
  ASSERT_TRUE(waitUntil([&] { return servers.relayed() >= 1; }));

  ForOneLogin elsewhere(info.userId, QStringLiteral("10.99.99.99"));
  QSignalSpy states(&elsewhere, &ForOneLogin::_connect2msgs_state);
  elsewhere.connectTo(msg.host, static_cast<quint16>(msg.port));
  ASSERT_TRUE(waitUntil([&] { return states.count() > 0; }));
  ASSERT_TRUE(elsewhere.announce());

  ASSERT_TRUE(waitUntil([&] { return lobby.isNull() || !lobby->isVisible(); }));
  EXPECT_TRUE(login->isVisible());
  EXPECT_EQ(login->statusLabel()->text(), QStringLiteral("您的账号已在其他地方登陆！"));
  EXPECT_TRUE(LoginInfo::current().loggedInElsewhere);
  LoginDialog::setCurrent(nullptr);
  delete login;
}

// A one-login credential the message server refuses is renewed, not shown again
// forever: with the login's ticket, and when the ticket is gone too, by signing in
// again with the remembered account. The reconnection box goes once it is back.
TEST(LoginService, ARefusedOneLoginCredentialIsRenewedWithTheTicketOrANewLogin) {
  Servers servers;
  ASSERT_TRUE(servers.started());
  ClientHome client(servers.host());
  QNMessageBox box;
  QNMessageBox::setGlobal(&box);
  auto* login = new LoginDialog;
  LoginDialog::setCurrent(login);
  typeAndLogin(*login, "teacher", "123456");
  ASSERT_TRUE(waitUntil([&] { return login->lobby() != nullptr; }));
  QPointer<UserDialog> lobby = login->lobby();
  ASSERT_TRUE(waitUntil([&] { return servers.relayed() >= 1; }));
  const ServerAddress msg = ServerAddress::parse(LoginInfo::current().oneLoginServer);
  const QString refused = QStringLiteral("1.10001.100000.0.4102444800000.") + QString(64, '0');

  auto reconnectWith = [&](const QString& credential) {
    LoginInfo::current().oneLoginCredential = credential;
    lobby->oneLogin().connectTo(msg.host, static_cast<quint16>(msg.port));
  };
  const QString firstTicket = LoginInfo::current().ticket;
  const quint64 announced = servers.relayed();
  reconnectWith(refused);
  ASSERT_TRUE(waitUntil([&] { return servers.relayed() > announced; }));
  EXPECT_NE(LoginInfo::current().oneLoginCredential, refused);
  EXPECT_EQ(LoginInfo::current().ticket, firstTicket);

  LoginInfo::current().ticket = QString(32, 'a');  // a ticket the service never issued
  const quint64 again = servers.relayed();
  reconnectWith(refused);
  ASSERT_TRUE(waitUntil([&] { return servers.relayed() > again; }));
  EXPECT_NE(LoginInfo::current().ticket, QString(32, 'a'));
  EXPECT_NE(LoginInfo::current().ticket, firstTicket);
  EXPECT_FALSE(lobby.isNull());
  EXPECT_TRUE(waitUntil([&] { return !box.isVisible(); }));
  QNMessageBox::setGlobal(nullptr);
  LoginDialog::setCurrent(nullptr);
  delete lobby;
  delete login;
}

// Lobby pieces driven with answers as the service gives them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTimer>

#include "AuthorizeDialog.h"
#include "ClassInformationWidget.h"
#include "CreatedClassSetDialog.h"
#include "DataFolder.h"
#include "LocalConfig.h"
#include "PagingWidget.h"
#include "Prompt.h"
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
QJsonObject room(int id, const QString& name) {
  return QJsonObject{{"id", id},
                     {"globalId", 500},
                     {"roomName", name},
                     {"roomSynopsis", "s"},
                     {"planStartDate", "2026.12.01 08:00"},
                     {"planEndDate", "2026.12.01 09:00"},
                     {"tag", "数学"},
                     {"usableNumbers", 30}};
}

QJsonObject roomList(int count) {
  QJsonArray rooms;
  for (int i = 1; i <= count; ++i)
    rooms.append(room(i, QStringLiteral("教室%1").arg(i)));
  return QJsonObject{{"code", 0}, {"msg", ""}, {"body", rooms}};
}

// Points the client at a local port that counts connections and never answers,
// so a test can tell whether a request went out.
struct CountingService {
  TempHome home;
  QTcpServer server;
  int connections = 0;
  CountingService() {
    DataFolder::setPath(home.clientDataFolder());
    server.listen(QHostAddress::LocalHost, 0);
    LocalConfig::instance()->setServerIP(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
      while (server.nextPendingConnection())
        ++connections;
    });
  }
};

int visibleCards(const QList<ClassInformationWidget*>& cards) {
  int n = 0;
  for (auto* c : cards)
    n += c->isVisible() ? 1 : 0;
  return n;
}
}  // namespace

TEST(ClassInformationWidget, TextsOfACard) {
  QJsonObject r = room(9, "x");
  r["roomSynopsis"] = QString(200, QChar(0x8BFE));
  ClassInformationWidget card(r, true);
  EXPECT_EQ(card.synopsisText(), QString(149, QChar(0x8BFE)) + QStringLiteral("……"));
  EXPECT_EQ(card.timeText(), QStringLiteral("开课时间：2026-12-01 08:00 - 2026-12-01 09:00"));
  EXPECT_EQ(ClassInformationWidget::cutSynopsis(QString(149, 'a')), QString(149, 'a'));
  EXPECT_EQ(card.roomId(), 9u);

  QJsonObject joined = room(3, "y");
  joined["roomId"] = "77";
  joined["imagePath"] = "poster/a.png";
  ClassInformationWidget joinedCard(joined, false);
  EXPECT_EQ(joinedCard.roomId(), 77u);  // joined entries name the room in roomId
  EXPECT_EQ(joinedCard.posterPath(), QString("/poster/a.png"));
}

TEST(ClassInformationWidget, PosterThatIsNoImageKeepsThePlaceholder) {
  ClassInformationWidget card(room(1, "x"), true);
  auto* poster = card.findChild<QLabel*>("cardPoster");
  ASSERT_NE(poster, nullptr);
  const QImage placeholder = poster->pixmap(Qt::ReturnByValue).toImage();
  ASSERT_FALSE(placeholder.isNull());
  card.setPoster(QPixmap());
  EXPECT_EQ(poster->pixmap(Qt::ReturnByValue).toImage(), placeholder);
  QPixmap red(400, 200);
  red.fill(Qt::red);
  card.setPoster(red);
  EXPECT_NE(poster->pixmap(Qt::ReturnByValue).toImage(), placeholder);
}

TEST(PagingWidget, PagesAndEllipsis) {
  PagingWidget pager;
  pager.setPageCount(12);
  EXPECT_EQ(pager.shownPages(), (QList<uint>{1, 2, 3, 4, 5}));
  QList<uint> marks;
  QObject::connect(&pager, &PagingWidget::signal_SendPageMark, [&](uint p) { marks << p; });
  pager.slot_ButtonMore();
  EXPECT_EQ(pager.shownPages(), (QList<uint>{6, 7, 8, 9, 10}));
  pager.slot_ButtonMore();
  EXPECT_EQ(pager.shownPages(), (QList<uint>{11, 12}));
  pager.slot_ButtonMore();  // wraps to the start
  EXPECT_EQ(pager.shownPages(), (QList<uint>{1, 2, 3, 4, 5}));
  EXPECT_EQ(marks, (QList<uint>{6, 11, 1}));
  pager.slot_SelectPage(13);  // out of range: ignored
  EXPECT_EQ(pager.currentPage(), 1u);
}

TEST(UserDialog, SevenRoomsGiveThreePagesOfThreeThreeOne) {
  CountingService service;
  UserDialog lobby("t", "127.0.0.1:1", 500, "127.0.0.1:2");
  lobby.show();
  const QSize empty = lobby.size();
  lobby.slot_FindCreateRoom_reply(roomList(7));
  ASSERT_EQ(lobby.createdCards().size(), 7);
  lobby.layout()->activate();
  EXPECT_EQ(lobby.size(), empty);  // the same window with and without cards
  EXPECT_EQ(lobby.teachPager()->pageCount(), 3u);
  EXPECT_EQ(visibleCards(lobby.createdCards()), 3);
  lobby.slot_PWidgetTeach(2);
  EXPECT_EQ(visibleCards(lobby.createdCards()), 3);
  lobby.slot_PWidgetTeach(3);
  EXPECT_EQ(visibleCards(lobby.createdCards()), 1);
  EXPECT_TRUE(lobby.createdCards().last()->isVisible());

  // A new answer replaces the list.
  lobby.slot_FindCreateRoom_reply(roomList(2));
  EXPECT_EQ(lobby.createdCards().size(), 2);
  EXPECT_EQ(lobby.teachPager()->pageCount(), 1u);
}

TEST(UserDialog, FailedAnswersToastAndKeepTheList) {
  CountingService service;
  UserDialog lobby("t", "127.0.0.1:1", 500, "127.0.0.1:2");
  lobby.show();
  lobby.slot_FindJoinRoom_reply(roomList(4));
  lobby.slot_FindJoinRoom_reply(QJsonObject());
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("网络异常，请检查网络后重试！"));
  lobby.slot_FindJoinRoom_reply(QJsonObject{{"code", 1}, {"msg", "拒绝"}});
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("拒绝"));
  EXPECT_EQ(lobby.joinedCards().size(), 4);
  lobby.slot_GetVersion_reply(QJsonObject{{"code", 0}, {"body", QJsonObject{{"info", "1.2.3"}}}});
  EXPECT_EQ(lobby.versionText(), QStringLiteral("版本：1.2.3"));
}

TEST(UserDialog, OwnerGetsStatusMessagesOthersAreAdmitted) {
  CountingService service;
  UserDialog lobby("t", "127.0.0.1:1", 500, "127.0.0.1:2");
  lobby.show();
  lobby.slot_FindCreateRoom_reply(roomList(1));
  ClassInformationWidget* card = lobby.createdCards().first();
  const QJsonObject base{{"code", 0},
                         {"globalId", 500},
                         {"openStyle", "1"},
                         {"roomName", "r"},
                         {"mcu_ip_address", "127.0.0.1"},
                         {"port", "27802"}};
  QJsonObject inactive = base;
  inactive["status"] = 3;
  lobby.slot_EnterClassroom_reply(inactive, card);
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("您的教室未激活，请激活！"));
  QJsonObject review = base;
  review["status"] = 4;
  lobby.slot_EnterClassroom_reply(review, card);
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("您的教室正在审核中，请等待！"));
  EXPECT_EQ(lobby.classroom(), nullptr);

  QJsonObject other = review;
  other["globalId"] = 900;  // someone else's room under review: come in
  other["chat_server"] = "127.0.0.1:27801";
  lobby.slot_EnterClassroom_reply(other, card);
  ASSERT_NE(lobby.classroom(), nullptr);
  EXPECT_EQ(lobby.classroom()->entry().chatServer.port, 27801);
  EXPECT_EQ(lobby.classroom()->entry().mcuPort, 27802);
  EXPECT_FALSE(lobby.isVisible());
  acceptLeaveQuestion();
  lobby.classroom()->close();
  EXPECT_TRUE(lobby.isVisible());
}

// The dialog hands each code on; a refused one is said and the dialog stays.
TEST(AuthorizeDialog, WrongCodeKeepsItOpenRightCodeAccepts) {
  AuthorizeDialog dialog;
  QStringList asked;
  QObject::connect(&dialog, &AuthorizeDialog::signal_CodeEntered, [&](QString code) {
    asked << code;
    if (code == QStringLiteral("1234"))
      dialog.accept();
    else
      dialog.slot_CodeRefused();
  });
  int result = -1;
  QTimer::singleShot(0, &dialog, [&] {
    dialog.codeEdit()->setText("9999");
    dialog.slot_ButtonOK();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("授权码错误！"));
    dialog.codeEdit()->setText("");  // no code is wrong without asking
    dialog.slot_ButtonOK();
    dialog.codeEdit()->setText("1234");
    dialog.slot_ButtonOK();
  });
  result = dialog.exec();
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(asked, (QStringList{"9999", "1234"}));
}

TEST(CreatedClassSetDialog, LongCodeRefusedBeforeAnyRequest) {
  CountingService service;
  const int before = service.connections;
  CreatedClassSetDialog dialog(500, 7, 2, "123", "contentArea", nullptr);
  // Let the two requests sent on opening (assistants, ratings) arrive first.
  ASSERT_TRUE(waitUntil([&] { return service.connections >= before + 2; }));
  const int afterOpen = service.connections;
  dialog.codeEdit()->setText("1234567");
  dialog.slot_ButtonSave();
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("授权码不合要求！"));
  QApplication::processEvents();
  EXPECT_EQ(service.connections, afterOpen);
  EXPECT_EQ(dialog.recordingArea(), QString("contentArea"));
}

// The owner's view of the ratings: counts and the latest comments, as text.
TEST(CreatedClassSetDialog, RatingsSummaryShowsCommentsAsText) {
  CreatedClassSetDialog dialog(500, 7, 2, "123", "contentArea", nullptr);
  dialog.slot_GetEvaluationSummary_reply(
      QJsonObject{{"code", 0}, {"body", QJsonObject{{"count", 0}}}});
  EXPECT_EQ(dialog.evaluationText(), QStringLiteral("暂无评价"));
  const QString comment = QStringLiteral("<b>讲得好</b>");
  dialog.slot_GetEvaluationSummary_reply(QJsonObject{
      {"code", 0},
      {"body", QJsonObject{{"count", 2},
                           {"mean", 70.0},
                           {"latest", QJsonArray{QJsonObject{{"score", 80}, {"content", comment}},
                                                 QJsonObject{{"score", 60}, {"content", ""}}}}}}});
  EXPECT_EQ(dialog.evaluationText(),
            QStringLiteral("共2条评价，平均70.0分\n80分  <b>讲得好</b>\n60分  （无文字）"));
  EXPECT_EQ(dialog.findChild<QLabel*>("evaluationSummary")->textFormat(), Qt::PlainText);
  dialog.slot_GetEvaluationSummary_reply(QJsonObject{});
  EXPECT_EQ(dialog.evaluationText(), QStringLiteral("暂时无法读取评价"));
}

// Without a browser the personal pages cannot open: the user is told where to go.
TEST(UserDialog, NoBrowserToastsTheAddress) {
  CountingService service;
  const QByteArray path = qgetenv("PATH");
  const QByteArray browser = qgetenv("BROWSER");
  qputenv("PATH", service.home.home().toUtf8());  // no xdg-open, no browser
  qunsetenv("BROWSER");
  UserDialog lobby("t", "127.0.0.1:1", 500, "127.0.0.1:2");
  lobby.show();
  lobby.slot_HtmlEncrypt(QJsonObject{{"code", 0}, {"body", "k42"}},
                         reinterpret_cast<void*>(quintptr(UserDialog::kPageRecharge)));
  const QString text = Prompt::instance()->text();
  EXPECT_TRUE(text.startsWith(QStringLiteral("无法打开浏览器"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("k42"))) << text.toStdString();
  qputenv("PATH", path);
  if (!browser.isNull())
    qputenv("BROWSER", browser);
}

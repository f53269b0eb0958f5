// The classroom window against the real service, message server and MCU on
// loopback, with other members joining the MCU as media library clients.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <thread>

#include "Classroom.h"
#include "ClassroomContext.h"
#include "DataFolder.h"
#include "FormBody.h"
#include "HttpRequest.h"
#include "InProcessServers.h"
#include "LocalConfig.h"
#include "LocalDatabase.h"
#include "LoginInfo.h"
#include "MainVideoBox.h"
#include "MediaControl.h"
#include "MediaEventBridge.h"
#include "MemberListWidget.h"
#include "PlayWnd.h"
#include "Prompt.h"
#include "QNMessageBox.h"
#include "RoomChannelClient.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "RoomMessenger.h"
#include "RoomSession.h"
#include "ServiceApi.h"
#include "TestCredentials.h"
#include "TestSupport.h"
#include "UserItem.h"
#include "VideoGroup.h"
#include "VideoRenderWidget.h"
#include "libcorda/velmsgs.h"
#include "mcu/server.h"
#include "recording_observer.h"

using testsupport::TempHome;
using testsupport::waitUntil;

namespace {

constexpr quint32 kRoom = 1001;  // owned by "teacher"; "assistant" assists in it

QJsonObject postAndWait(const ServiceEndpoint& endpoint, const QString& body) {
  QJsonObject answer;
  bool done = false;
  auto* request = new HttpRequest;
  QObject::connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed),
                   [&](QJsonObject a) {
                     answer = a;
                     done = true;
                   });
  request->request(HttpRequest::serviceUrl(endpoint.path), body, HttpRequest::kJson);
  waitUntil([&] { return done; });
  return answer;
}

// Service with demo data, message server and MCU, each on an ephemeral port.
struct Servers : testsupport::InProcessServers {
  Servers() : InProcessServers(kWithMcu) {}
};

// Another member: a media library client logged in to the room's MCU.
class Bot {
public:
  Bot(quint32 userId, quint16 mcuPort) {
    // Signed with the servers' secret, as the service would sign it.
    const std::string credential = testsupport::testCredential(userId, kRoom, 2);
    library_ = Libpavo::create(&observer_, userId, kRoom, "127.0.0.1", mcuPort, user_role_student,
                               credential.c_str());
    observer_.owner = library_;
  }
  ~Bot() { Libpavo::destory(library_); }
  bool connected() {
    auto state = observer_.next_event(pavo_event_connect_state);
    return state && !state->args.empty() && state->args[0] == 1;
  }

private:
  pavo_test::recording_observer observer_;
  Libpavo* library_ = nullptr;
};

class ClassroomTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(servers_.started());
    QDir().mkpath(home_.clientDataFolder());
    DataFolder::setPath(home_.clientDataFolder());
    LocalDatabase::open(home_.clientDataFolder() + "tavQN");
    LocalConfig::instance()->setServerIP(servers_.host());
    LoginInfo::current() = LoginInfo();
  }
  void TearDown() override {
    if (classroom_) {
      LoginInfo::current().loggedInElsewhere = true;  // leave without the question
      classroom_->close();
      waitUntil([&] { return classroom_.isNull(); });
    }
    bots_.clear();
    waitUntil([] { return HttpRequest::pendingCount() == 0; });
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<QNMessageBox*>(w))
        w->deleteLater();
    for (int i = 0; i < 3; ++i)
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    LocalDatabase::close();
    LoginInfo::current() = LoginInfo();
  }

  // Signs in as account, joins the room as the lobby does and opens the classroom.
  Classroom* enter(const QString& account) {
    const QJsonObject login = postAndWait(
        ServiceApi::kLogin, FormBody(ServiceApi::kLogin.body).arg(account).arg("123456"));
    const QJsonObject body = login.value("body").toObject();
    LoginInfo& info = LoginInfo::current();
    info.userId = body.value("globalId").toVariant().toUInt();
    info.ticket = body.value("ticketId").toString();
    info.displayName = body.value("nickName").toString();
    if (info.userId == 0)
      return nullptr;
    const QJsonObject join =
        postAndWait(ServiceApi::kUserJoinRoom,
                    FormBody(ServiceApi::kUserJoinRoom.body).arg(kRoom).arg(info.userId));
    ClassroomEntry entry;
    entry.roomId = kRoom;
    entry.roomName = QStringLiteral("测试教室");
    entry.ownUserId = info.userId;
    entry.ownName = info.displayName;
    entry.ownerId = join.value("globalId").toVariant().toUInt();
    entry.ownerName = join.value("nickNameT").toString();
    entry.isAssistant = join.value("isAssistant").toVariant().toBool();
    entry.mcuAddress = "127.0.0.1";
    entry.mcuPort = servers_.mcuPort();
    entry.chatServer = ServerAddress::parse(QStringLiteral("127.0.0.1:%1").arg(servers_.msgPort()));
    entry.credential = join.value("room_credential").toString();
    classroom_ = new Classroom(entry);
    classroom_->show();
    return classroom_;
  }

  bool connected() {
    return waitUntil([&] { return classroom_ && classroom_->mcuConnected(); }) &&
           waitUntil([&] { return roomChannel() && roomChannel()->hasClient(); });
  }

  // Bots for these users join the MCU; the classroom lists each one.
  bool addBots(std::initializer_list<quint32> ids) {
    for (quint32 id : ids) {
      bots_.push_back(std::make_unique<Bot>(id, servers_.mcuPort()));
      if (!bots_.back()->connected())
        return false;
    }
    return waitUntil([&] {
      for (quint32 id : ids)
        if (!session().contains(id))
          return false;
      return true;
    });
  }

  // Rejects (or accepts) the next modal message box once it is shown.
  void answerNextBox(bool accept, QString* text = nullptr) {
    QTimer::singleShot(0, [accept, text] {
      waitUntil([] { return qobject_cast<QNMessageBox*>(QApplication::activeModalWidget()); },
                5000);
      auto* box = qobject_cast<QNMessageBox*>(QApplication::activeModalWidget());
      if (!box)
        return;
      if (text)
        *text = box->message();
      accept ? box->accept() : box->reject();
    });
  }

  // The window's parts, found as a user of the window would: by name.
  template <typename T>
  T* part(const char* name = nullptr) {
    return name ? classroom_->findChild<T*>(QLatin1String(name)) : classroom_->findChild<T*>();
  }
  RoomSession& session() { return *part<RoomSession>(); }
  MediaControl& control() { return *part<MediaControl>(); }
  MemberListWidget& memberList() { return *part<MemberListWidget>("memberList"); }
  VideoGroup& students() { return *part<VideoGroup>("studentVideos"); }
  RoomChannelClient* roomChannel() { return part<RoomChannelClient>("roomChannel"); }
  // As the media library announces it, from its own thread.
  void announce(int event, quint32 userId, int kind) {
    media_stream_t stream{userId, static_cast<uint32_t>(kind)};
    std::thread([&] { part<MediaEventBridge>()->on_media_event(event, &stream); }).join();
  }

  mcu::MemberInfo mcuMember(quint32 userId) {
    for (const mcu::RoomInfo& room : servers_.mcu().rooms())
      if (room.room_id == kRoom)
        for (const mcu::MemberInfo& m : room.members)
          if (m.user_id == userId)
            return m;
    return {};
  }

  Servers servers_;
  TempHome home_;
  QPointer<Classroom> classroom_;
  std::vector<std::unique_ptr<Bot>> bots_;
};

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudents[] = {10003, 10004, 10005, 10006};

TEST_F(ClassroomTest, StartsUpWithRoleAndMembersAndCancelOnCloseKeepsEverything) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  EXPECT_EQ(classroom_->windowTitle(), QStringLiteral("互动教室"));
  EXPECT_EQ(RoomContext::current().ownRole, RoomContext::kTeacher);
  EXPECT_TRUE(RoomContext::current().isOwner);
  auto* start = part<QPushButton>("btnStartClass");
  EXPECT_TRUE(start->isVisibleTo(classroom_));
  auto* presence = part<QTimer>("presenceTimer");
  ASSERT_NE(presence, nullptr);
  EXPECT_TRUE(presence->isActive());
  EXPECT_EQ(presence->interval(), Classroom::kHeartbeatMs);
  ASSERT_TRUE(addBots({kStudents[0], kStudents[1]}));
  EXPECT_EQ(memberList().groupOf(kStudents[0]), MemberListWidget::Student);
  EXPECT_EQ(memberList().groupOf(kTeacher), MemberListWidget::Teacher);

  QSignalSpy exits(classroom_.data(), &Classroom::signal_exit_classroom);
  QString question;
  answerNextBox(false, &question);
  EXPECT_FALSE(classroom_->close());
  EXPECT_EQ(question, QStringLiteral("您确定要退出教室吗？"));
  EXPECT_EQ(exits.count(), 0);
  ASSERT_FALSE(classroom_.isNull());
  EXPECT_FALSE(classroom_->isLeaving());
  EXPECT_NE(part<ClassroomContext>()->media(), nullptr);
  EXPECT_TRUE(classroom_->mcuConnected());
  EXPECT_TRUE(roomChannel()->hasClient());
  EXPECT_TRUE(presence->isActive());

  // Starting the class: the MCU knows it runs and the own camera and microphone are published.
  start->click();
  ASSERT_TRUE(waitUntil([&] { return RoomContext::current().classInProgress; }));
  EXPECT_EQ(RoomContext::current().classStarterId, kTeacher);
  EXPECT_TRUE(part<QTimer>("teachingTimer")->isActive());
  ASSERT_TRUE(waitUntil([&] { return (mcuMember(kTeacher).published & 3u) == 3u; }));
  auto* ownVideo = part<QPushButton>("btnOwnVideo");
  ASSERT_TRUE(waitUntil([&] { return ownVideo->isChecked(); }));

  // The teacher opens both students' cameras: each gets a tile in the students' strip.
  control().onOperateVideo(kStudents[0]);
  control().onOperateVideo(kStudents[1]);
  ASSERT_TRUE(waitUntil([&] {
    return students().tile(kStudents[0]) && students().tile(kStudents[1]);
  }));
  EXPECT_TRUE(memberList().findUser(kStudents[0])->isVideoOn());
  // The own preview reaches the main window.
  auto* main = part<MainVideoBox>("mainVideoBox");
  ASSERT_TRUE(waitUntil([&] { return !main->renderWidget()->heldFrame().isNull(); }));
  const QString shot = qEnvironmentVariable("TAV_CLASSROOM_SCREENSHOT");
  if (!shot.isEmpty()) {
    memberList().findUser(kStudents[0])->setHandUp(true);
    waitUntil([&] { return false; }, 1500);  // let more frames arrive
    classroom_->grab().save(shot);
  }

  // Stopping the class turns every picture and the own buttons off.
  answerNextBox(true, &question);
  part<QPushButton>("btnStopClass")->click();
  EXPECT_EQ(question, QStringLiteral("确定要停课吗？"));
  ASSERT_TRUE(waitUntil([&] { return !RoomContext::current().classInProgress; }));
  EXPECT_FALSE(ownVideo->isChecked());
  EXPECT_FALSE(part<QPushButton>("btnOwnAudio")->isChecked());
  EXPECT_TRUE(main->renderWidget()->heldFrame().isNull());
  EXPECT_EQ(students().tile(kStudents[0]), nullptr);
  EXPECT_FALSE(memberList().findUser(kStudents[0])->isVideoOn());
  EXPECT_FALSE(part<QTimer>("teachingTimer")->isActive());
}

// Members already in the room when the classroom opens are looked up at once,
// not only by the 30-second supplement; also when the classroom is entered again.
TEST_F(ClassroomTest, MembersAlreadyPresentAreListedAtOnceOnEveryVisit) {
  bots_.push_back(std::make_unique<Bot>(kStudents[2], servers_.mcuPort()));
  ASSERT_TRUE(bots_.back()->connected());
  for (int visit = 1; visit <= 2; ++visit) {
    SCOPED_TRACE(visit);
    ASSERT_TRUE(enter("teacher"));
    ASSERT_TRUE(connected());
    EXPECT_TRUE(waitUntil([&] { return session().contains(kStudents[2]); }, 25000));
    EXPECT_FALSE(session().nameOf(kStudents[2]).isEmpty());
    EXPECT_NE(memberList().findUser(kStudents[2]), nullptr);
    answerNextBox(true);
    classroom_->close();
    ASSERT_TRUE(waitUntil([&] { return classroom_.isNull(); }));
  }
}

TEST_F(ClassroomTest, LoggedInElsewhereLeavesWithoutAsking) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  QSignalSpy exits(classroom_.data(), &Classroom::signal_exit_classroom);
  LoginInfo::current().loggedInElsewhere = true;
  EXPECT_TRUE(classroom_->close());  // no box: close() would not return before an answer
  EXPECT_EQ(exits.count(), 1);
  EXPECT_TRUE(waitUntil([&] { return classroom_.isNull(); }));
  EXPECT_EQ(Classroom::current(), nullptr);
}

// The room switched to access-code entry: students go, assistants and the owner stay.
TEST_F(ClassroomTest, AccessCodeEntrySendsStudentsOut) {
  struct Case {
    const char* account;
    bool leaves;
  };
  for (const Case& c : {Case{"student1", true}, Case{"assistant", false}, Case{"teacher", false}}) {
    SCOPED_TRACE(c.account);
    ASSERT_TRUE(enter(c.account));
    ASSERT_TRUE(connected());
    QSignalSpy exits(classroom_.data(), &Classroom::signal_exit_classroom);
    // The teacher's message on the room channel, from another connection.
    RoomChannelClient teacher(
        kTeacher, kRoom, QString::fromStdString(testsupport::testCredential(kTeacher, kRoom, 1)));
    QSignalSpy up(&teacher, &RoomChannelClient::__connect2msgs_state);
    teacher.connectTo("127.0.0.1", servers_.msgPort());
    ASSERT_TRUE(waitUntil([&] { return up.count() > 0; }));
    QJsonObject msg = roommsg::newMessage(MSG_ROOM_TYPE);
    msg.insert("roomType", "2");
    teacher.send(roommsg::serialize(msg), "*");
    // A chat line after it shows the room message has been handled by then.
    QSignalSpy chats(part<RoomMessenger>("roomMessenger"), &RoomMessenger::signal_ChatMsgArrived);
    QJsonObject chat = roommsg::newMessage(MSG_CHAT_TEXT);
    chat.insert("content", "hello");
    teacher.send(roommsg::serialize(chat), "*");
    if (c.leaves) {
      EXPECT_TRUE(waitUntil([&] { return classroom_.isNull(); }));
      EXPECT_EQ(exits.count(), 1);
    } else {
      ASSERT_TRUE(waitUntil([&] { return chats.count() >= 2; }));
      EXPECT_FALSE(classroom_.isNull());
      EXPECT_EQ(exits.count(), 0);
      LoginInfo::current().loggedInElsewhere = true;
      classroom_->close();
      waitUntil([&] { return classroom_.isNull(); });
      LoginInfo::current().loggedInElsewhere = false;
    }
  }
}

TEST_F(ClassroomTest, AudioLimitAndBulkButtonsAgainstTheMediaServer) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  ASSERT_TRUE(addBots({kStudents[0], kStudents[1], kStudents[2], kStudents[3], 10007}));

  // Four members with sound on (as the library reports it): a fifth is refused.
  for (quint32 id : kStudents)
    announce(pavo_event_media_open, id, media_kind_audio);
  ASSERT_TRUE(waitUntil([&] { return session().audioOnCount() == 4; }));
  control().onOperateAudio(10007);
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("最多只能打开4路声音！"));

  // Two on: open-all opens two more at the media server, the first ticked in list order.
  announce(pavo_event_media_close, kStudents[0], media_kind_audio);
  announce(pavo_event_media_close, kStudents[1], media_kind_audio);
  ASSERT_TRUE(waitUntil([&] { return session().audioOnCount() == 2; }));
  for (UserItem* item : memberList().items())
    item->setChecked(item->userId() != kTeacher);
  QList<quint32> order;
  for (UserItem* item : memberList().items())
    if (item->userId() != kTeacher && item->userId() != kStudents[2] &&
        item->userId() != kStudents[3])
      order.push_back(item->userId());
  ASSERT_EQ(order.size(), 3);
  auto* openAll = part<QPushButton>("btnOpenAllAudio");
  openAll->click();
  EXPECT_FALSE(openAll->isEnabled());
  EXPECT_FALSE(part<QPushButton>("btnCloseAllAudio")->isEnabled());
  ASSERT_TRUE(waitUntil([&] {
    return (mcuMember(order[0]).published & media_kind_audio) &&
           (mcuMember(order[1]).published & media_kind_audio);
  }));
  ASSERT_TRUE(waitUntil([&] { return openAll->isEnabled(); }));
  EXPECT_EQ(mcuMember(order[2]).published & media_kind_audio, 0u);
}

TEST_F(ClassroomTest, LosingTheMcuClosesOnceEvenIfRepeated) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  QSignalSpy exits(classroom_.data(), &Classroom::signal_exit_classroom);
  std::thread([&] {
    auto* bridge = part<MediaEventBridge>();
    bridge->on_media_event(pavo_event_disconnected, nullptr);
    bridge->on_media_event(pavo_event_disconnected, nullptr);
  }).join();
  ASSERT_TRUE(waitUntil([&] { return classroom_.isNull(); }));
  int boxes = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QNMessageBox*>(w);
    if (box && box->isVisible() &&
        box->message() == QStringLiteral("当前网络不给力,请检查网络后重试！")) {
      ++boxes;
      EXPECT_FALSE(box->buttonsVisible());
    }
  }
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(exits.count(), 1);
}

// Media announced before the member is known (replayed on entry, or a member the service
// does not list yet) shows once the member arrives: row, tile strip and name.
TEST_F(ClassroomTest, MediaAnnouncedBeforeTheMemberIsKept) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  announce(pavo_event_media_open, kStudents[0], media_kind_video);
  announce(pavo_event_media_open, kStudents[0], media_kind_audio);
  ASSERT_TRUE(addBots({kStudents[0]}));
  UserItem* item = memberList().findUser(kStudents[0]);
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(item->isVideoOn());
  EXPECT_TRUE(item->isAudioOn());
  PlayWnd* tile = students().tile(kStudents[0]);
  ASSERT_NE(tile, nullptr);
  EXPECT_FALSE(part<VideoGroup>("otherVideos")->tile(kStudents[0]));
  EXPECT_EQ(tile->userName(), session().nameOf(kStudents[0]));
  EXPECT_TRUE(tile->isAudioOn());
}

TEST_F(ClassroomTest, RoomChannelDropIsRecreatedSilently) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  RoomChannelClient* channel = roomChannel();
  const int before = channel->connectCount();
  channel->disconnect_from_msgs();  // as the message library reports a dropped connection
  ASSERT_TRUE(waitUntil([&] { return channel->connectCount() == before + 1; }));
  EXPECT_TRUE(channel->hasClient());
  EXPECT_FALSE(classroom_->isLeaving());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  // The new connection carries room messages again.
  QSignalSpy chats(part<RoomMessenger>("roomMessenger"), &RoomMessenger::signal_ChatMsgArrived);
  RoomChannelClient other(kStudents[0], kRoom,
                          QString::fromStdString(testsupport::testCredential(kStudents[0], kRoom)));
  QSignalSpy up(&other, &RoomChannelClient::__connect2msgs_state);
  other.connectTo("127.0.0.1", servers_.msgPort());
  ASSERT_TRUE(waitUntil([&] { return up.count() > 0; }));
  QJsonObject chat = roommsg::newMessage(MSG_CHAT_TEXT);
  chat.insert("content", "still there?");
  other.send(roommsg::serialize(chat), "*");
  EXPECT_TRUE(waitUntil([&] { return chats.count() > 0; }));
}

TEST_F(ClassroomTest, NoMemberListClosesWithTheNetworkMessage) {
  ASSERT_TRUE(enter("teacher"));
  QSignalSpy exits(classroom_.data(), &Classroom::signal_exit_classroom);
  classroom_->onGetUserList(QJsonObject());  // what a network error delivers
  ASSERT_TRUE(waitUntil([&] { return classroom_.isNull(); }));
  EXPECT_EQ(exits.count(), 1);
  bool boxShown = false;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QNMessageBox*>(w))
      boxShown |=
          box->isVisible() && box->message() == QStringLiteral("当前网络不给力,请检查网络后重试！");
  EXPECT_TRUE(boxShown);
}

}  // namespace

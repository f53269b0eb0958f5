// The classroom window against the real service, message server and MCU on
// loopback, with other members joining the MCU as media library clients.
#include "ClassroomFixture.h"

namespace {

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
  EXPECT_TRUE(part<ClassroomContext>()->hasMedia());
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
  ASSERT_TRUE(
      waitUntil([&] { return students().tile(kStudents[0]) && students().tile(kStudents[1]); }));
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
    QSignalSpy chats(part<RoomMessenger>("roomMessenger"), &RoomMessenger::signal_ChatMsgArrived);
    teacher.send(roommsg::serialize(msg), "*");
    // A chat line from another member: once both have arrived, the room message has been
    // handled. (The teacher's own chat would come back with the teacher's id, which the
    // teacher's window takes for its own echo.)
    RoomChannelClient student(
        kStudents[3], kRoom,
        QString::fromStdString(testsupport::testCredential(kStudents[3], kRoom, 2)));
    QSignalSpy studentUp(&student, &RoomChannelClient::__connect2msgs_state);
    student.connectTo("127.0.0.1", servers_.msgPort());
    ASSERT_TRUE(waitUntil([&] { return studentUp.count() > 0; }));
    QJsonObject chat = roommsg::newMessage(MSG_CHAT_TEXT);
    chat.insert("content", "hello");
    student.send(roommsg::serialize(chat), "*");
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

// A lost media server is connected to again, once however often the loss is
// reported, and what the member had open opens again: no box, the window stays.
TEST_F(ClassroomTest, LosingTheMcuConnectsAgainOnceEvenIfRepeated) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  part<QPushButton>("btnStartClass")->click();
  ASSERT_TRUE(waitUntil([&] { return (mcuMember(kTeacher).published & 3u) == 3u; }));
  // What opens again is what the member knew was open when the server went: both, here (on
  // a busy machine the library's reports come in after the server's state changed).
  ASSERT_TRUE(waitUntil([&] {
    return part<QPushButton>("btnOwnVideo")->isChecked() &&
           part<QPushButton>("btnOwnAudio")->isChecked();
  }));
  QSignalSpy exits(classroom_.data(), &Classroom::signal_exit_classroom);
  std::thread([&] {
    auto* bridge = part<MediaEventBridge>();
    bridge->on_media_event(pavo_event_disconnected, nullptr);
    bridge->on_media_event(pavo_event_disconnected, nullptr);
  }).join();
  ASSERT_TRUE(waitUntil([&] { return !classroom_->mcuConnected(); }));
  EXPECT_TRUE(RoomContext::current().classInProgress);
  ASSERT_TRUE(waitUntil([&] { return classroom_->mcuConnected(); }));
  ASSERT_TRUE(waitUntil([&] { return (mcuMember(kTeacher).published & 3u) == 3u; }));
  EXPECT_TRUE(waitUntil([&] { return part<QPushButton>("btnOwnVideo")->isChecked(); }));
  size_t sessions = 0;
  for (const mcu::RoomInfo& room : servers_.mcu().rooms())
    for (const mcu::MemberInfo& m : room.members)
      sessions += room.room_id == kRoom && m.user_id == kTeacher;
  EXPECT_EQ(sessions, 1u);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QNMessageBox*>(w)) {
      EXPECT_FALSE(box->isVisible()) << box->message().toStdString();
    }
  }
  EXPECT_EQ(exits.count(), 0);
  EXPECT_EQ(part<QTimer>("mediaRetryTimer")->isActive(), false);
}

class TwoMcuClassroomTest : public ClassroomTestWith<TwoMcuServers> {};

// The room's MCU dies: the classroom finds out through the media library's
// keep-alives, asks the service again, which now names the other MCU, and goes
// there with what it had open.
TEST_F(TwoMcuClassroomTest, ALostMcuIsLeftForTheOneTheServiceNamesNow) {
  ASSERT_TRUE(enter("teacher"));  // on the first MCU
  ASSERT_TRUE(connected());
  part<QPushButton>("btnStartClass")->click();
  ASSERT_TRUE(waitUntil([&] { return part<QPushButton>("btnOwnVideo")->isChecked(); }));
  servers_.stopMcu(0);
  ASSERT_TRUE(waitUntil([&] { return !classroom_->mcuConnected(); }));
  ASSERT_TRUE(waitUntil([&] { return classroom_->mcuConnected(); }));
  EXPECT_EQ(classroom_->entry().mcuPort, servers_.mcuPort(1));
  EXPECT_TRUE(waitUntil([&] {
    for (const mcu::RoomInfo& room : servers_.mcu(1).rooms())
      for (const mcu::MemberInfo& m : room.members)
        if (room.room_id == kRoom && m.user_id == kTeacher && (m.published & 3u) == 3u)
          return true;
    return false;
  }));
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

// A dropped room channel is made again, and one whose credential the message
// server no longer takes gets a fresh one from the service first.
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

  auto* context = part<ClassroomContext>();
  ASSERT_TRUE(waitUntil([&] { return context->roomChannelUp(); }));
  channel->setCredential(QStringLiteral("1.10001.1001.1.4102444800000.") + QString(64, '0'));
  channel->connectTo("127.0.0.1", servers_.msgPort());
  ASSERT_TRUE(
      waitUntil([&] { return channel->connectCount() >= before + 3 && context->roomChannelUp(); }));
  EXPECT_FALSE(classroom_->isLeaving());
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

namespace {

class MessageServerFailover : public ClassroomTestWith<TwoMsgNodeServers> {};

// The room's message server dies: the room channel asks the service, which
// names the live one, and the classroom carries on there.
TEST_F(MessageServerFailover, TheRoomChannelMovesToALiveMessageServer) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  const int first = classroom_->entry().chatServer.port;
  const int dying = first == servers_.msgPortOf(0) ? 0 : 1;
  ASSERT_EQ(first, servers_.msgPortOf(dying));
  servers_.stopMsgNode(dying);
  ClassroomContext& context = *part<ClassroomContext>();
  EXPECT_TRUE(waitUntil([&] {
    return classroom_->entry().chatServer.port == servers_.msgPortOf(1 - dying) &&
           context.roomChannelUp();
  })) << "still on port "
      << classroom_->entry().chatServer.port;
}

}  // namespace

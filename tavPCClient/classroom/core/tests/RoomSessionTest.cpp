// The session model without widgets: members, their media, tiles, the class.
#include "RoomSession.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>

#include "ClassroomRig.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;
constexpr quint32 kParent = 10008;

using Ids = QList<quint32>;

struct SessionTest : ::testing::Test {
  RoomContext& room = RoomContext::reset(1001);
  RoomSession session{kTeacher, kTeacher, room};

  void add(quint32 id, const QString& role) { session.addMember(ClassroomRig::member(id, role)); }
};

TEST_F(SessionTest, MemberListGivesTheOwnRoleAndGroups) {
  RoomSession student(kStudent, kTeacher, room);
  QSignalSpy roles(&student, &RoomSession::rolesChanged);
  const QJsonArray online{
      QJsonObject{{"globalId", "10001"}, {"role", "老师"}, {"nickName", "王老师"}},
      QJsonObject{{"globalId", 10003}, {"role", "学生"}, {"isAssistant", true}, {"sendFlag", 0}},
      QJsonObject{{"globalId", "not a number"}, {"role", "学生"}},
      QJsonValue("junk")};
  student.loadMemberList(online);
  EXPECT_EQ(student.members().size(), 2);
  EXPECT_EQ(room.ownRole, RoomContext::kStudent);
  EXPECT_TRUE(room.isAssistant);
  EXPECT_TRUE(student.hasTeacherRights());
  EXPECT_GE(roles.count(), 1);
  EXPECT_EQ(student.member(kStudent)->group(), RoomMember::kAssistantGroup);
  EXPECT_TRUE(student.member(kStudent)->muted);
  EXPECT_EQ(student.nameOf(kTeacher), QStringLiteral("王老师"));
}

// Media can be announced before the member is known: replayed on entry, or a
// member only the media server lists yet.
TEST_F(SessionTest, MediaAnnouncedEarlyIsAppliedAndTheTileMovesToItsGroup) {
  add(kTeacher, "老师");
  for (quint32 id : {10011u, 10012u})  // fill the other strip's two places
    add(id, "家长");
  session.mediaOpened(10011, RoomSession::kVideo);
  session.mediaOpened(10012, RoomSession::kVideo);
  session.mediaOpened(kStudent, RoomSession::kVideo);
  session.mediaOpened(kStudent, RoomSession::kAudio);
  // Unknown yet: it waits among the other roles.
  EXPECT_EQ(session.otherLineup().waiting(), (Ids{kStudent}));
  EXPECT_TRUE(session.isOn(kStudent, RoomSession::kAudio));

  QSignalSpy promoted(&session, &RoomSession::videoPromoted);
  QSignalSpy added(&session, &RoomSession::memberAdded);
  add(kStudent, "学生");
  ASSERT_EQ(added.count(), 1);
  const RoomMember* m = session.member(kStudent);
  ASSERT_TRUE(m);
  EXPECT_TRUE(m->videoOn);
  EXPECT_TRUE(m->audioOn);
  EXPECT_EQ(session.studentLineup().displayed(), (Ids{kStudent}));
  EXPECT_FALSE(session.otherLineup().contains(kStudent));
  EXPECT_TRUE(promoted.isEmpty());  // it only waited: nobody is promoted

  // A later record keeps the media state.
  add(kStudent, "学生");
  EXPECT_TRUE(session.member(kStudent)->videoOn);
}

TEST_F(SessionTest, MainUserOwnVideoAndLeavingUsers) {
  add(kTeacher, "老师");
  for (quint32 id : {10003u, 10004u, 10005u, 10006u})
    add(id, "学生");
  QSignalSpy main(&session, &RoomSession::mainVideoChanged);
  session.mediaOpened(kTeacher, RoomSession::kVideo);
  EXPECT_EQ(session.mainVideoUser(), kTeacher);
  EXPECT_TRUE(session.studentLineup().isEmpty());
  ASSERT_EQ(main.count(), 1);

  for (quint32 id : {10003u, 10004u, 10005u, 10006u})
    session.mediaOpened(id, RoomSession::kVideo);
  add(10007, "学生");
  session.mediaOpened(10007, RoomSession::kVideo);
  EXPECT_EQ(session.studentLineup().waiting(), (Ids{10007}));

  // A leaving student frees its tile for the waiting one, whose stream is needed.
  QSignalSpy promoted(&session, &RoomSession::videoPromoted);
  session.userLeft(10004);
  EXPECT_FALSE(session.contains(10004));
  ASSERT_EQ(promoted.count(), 1);
  EXPECT_EQ(promoted.at(0).at(0).value<quint32>(), 10007u);
  EXPECT_EQ(session.studentLineup().displayed(), (Ids{10003, 10005, 10006, 10007}));

  // A tile of somebody never listed goes too.
  session.mediaOpened(424242, RoomSession::kVideo);
  ASSERT_TRUE(session.otherLineup().contains(424242));
  session.userLeft(424242);
  EXPECT_FALSE(session.otherLineup().contains(424242));
}

TEST_F(SessionTest, OwnStudentVideoTakesTheFirstTileAndBumpsTheLastShown) {
  RoomSession own(kStudent, kTeacher, room);
  own.addMember(ClassroomRig::member(kStudent, "学生"));
  for (quint32 id : {10004u, 10005u, 10006u, 10007u}) {
    own.addMember(ClassroomRig::member(id, "学生"));
    own.mediaOpened(id, RoomSession::kVideo);
  }
  QSignalSpy bumped(&own, &RoomSession::videoBumped);
  own.mediaOpened(kStudent, RoomSession::kVideo);
  EXPECT_EQ(own.studentLineup().displayed(), (Ids{kStudent, 10004, 10005, 10006}));
  ASSERT_EQ(bumped.count(), 1);
  EXPECT_EQ(bumped.at(0).at(0).value<quint32>(), 10007u);
}

TEST_F(SessionTest, AudioLimitCountsMembersWithSoundOn) {
  for (quint32 id = 10003; id < 10008; ++id)
    add(id, "学生");
  EXPECT_EQ(session.freeAudioChannels(), RoomSession::kAudioLimit);
  for (quint32 id = 10003; id < 10007; ++id)
    session.mediaOpened(id, RoomSession::kAudio);
  EXPECT_EQ(session.audioOnCount(), 4);
  EXPECT_EQ(session.freeAudioChannels(), 0);
  session.mediaClosed(10003, RoomSession::kAudio);
  EXPECT_EQ(session.freeAudioChannels(), 1);
}

TEST_F(SessionTest, MediaServerListDevicesRemovalsAndNewcomersLookedUpOnce) {
  add(kTeacher, "老师");
  add(kStudent, "学生");
  add(10004, "学生");
  const MediaUserList list{{kTeacher, 3}, {kStudent, 2}, {20001, 1}, {20002, 3}};
  EXPECT_EQ(session.applyMediaServerList(list), (Ids{20001, 20002}));
  EXPECT_FALSE(session.contains(10004));  // not present any more
  EXPECT_FALSE(session.member(kStudent)->hasCamera);
  EXPECT_TRUE(session.member(kStudent)->hasMicrophone);
  EXPECT_EQ(session.supplementMask(20001), 1u);
  // The next list names nobody new: the timer repeats the lookups.
  EXPECT_TRUE(session.applyMediaServerList(list).isEmpty());
  EXPECT_EQ(session.supplementList().size(), 2);
  // Arriving or leaving takes a user off the supplement list.
  add(20001, "学生");
  session.userLeft(20002);
  EXPECT_TRUE(session.supplementList().isEmpty());
  // The own member is never removed by the list.
  EXPECT_TRUE(session.applyMediaServerList({}).isEmpty());
  EXPECT_TRUE(session.contains(kTeacher));
}

TEST_F(SessionTest, PublishedMediaAreReplayedWhileTheClassRuns) {
  add(kStudent, "学生");
  QSignalSpy media(&session, &RoomSession::mediaChanged);
  QSignalSpy existing(&session, &RoomSession::signal_have_exist_media);
  session.setExistingMedia({{kStudent, 1 | 2}, {10009, 4}});
  EXPECT_TRUE(media.isEmpty());
  ASSERT_EQ(existing.count(), 1);
  EXPECT_FALSE(existing.at(0).at(0).toBool());

  session.classStarted(kTeacher);
  ASSERT_EQ(media.count(), 3);
  EXPECT_EQ(media.at(0).at(0).value<quint32>(), kStudent);
  EXPECT_EQ(media.at(0).at(1).toInt(), 1);
  EXPECT_EQ(media.at(1).at(1).toInt(), 2);
  EXPECT_EQ(media.at(2).at(0).value<quint32>(), 10009u);
  EXPECT_EQ(media.at(2).at(1).toInt(), 4);
  ASSERT_EQ(existing.count(), 2);
  EXPECT_TRUE(existing.at(1).at(0).toBool());
  EXPECT_TRUE(session.member(kStudent)->videoOn);
  // A second start announcement replays nothing again.
  session.classStarted(kTeacher);
  EXPECT_EQ(media.count(), 3);
}

// The media library stops every stream at the end of a class without announcing
// each; the session turns everything off itself.
TEST_F(SessionTest, StoppingTheClassTurnsEveryMediaOffWithoutPromotions) {
  add(kTeacher, "老师");
  for (quint32 id = 10003; id < 10008; ++id)
    add(id, "学生");
  add(kParent, "家长");
  session.classStarted(kTeacher);
  session.setScreenSharer(kTeacher);
  for (quint32 id : {kTeacher, 10003u, 10004u, 10005u, 10006u, 10007u, kParent}) {
    session.mediaOpened(id, RoomSession::kVideo);
    session.mediaOpened(id, RoomSession::kAudio);
  }
  ASSERT_EQ(session.studentLineup().waiting().size(), 1);
  QSignalSpy promoted(&session, &RoomSession::videoPromoted);
  QSignalSpy off(&session, &RoomSession::mediaChanged);
  QSignalSpy state(&session, &RoomSession::classStateChanged);
  session.classStopped();
  EXPECT_TRUE(promoted.isEmpty());
  EXPECT_EQ(off.count(), 14);
  for (const QList<QVariant>& args : off)
    EXPECT_FALSE(args.at(2).toBool());
  for (const RoomMember& m : session.members()) {
    EXPECT_FALSE(m.videoOn) << m.userId;
    EXPECT_FALSE(m.audioOn) << m.userId;
  }
  EXPECT_TRUE(session.studentLineup().isEmpty());
  EXPECT_TRUE(session.otherLineup().isEmpty());
  EXPECT_EQ(session.mainVideoUser(), 0u);
  EXPECT_EQ(session.audioOnCount(), 0);
  EXPECT_FALSE(room.classInProgress);
  EXPECT_EQ(room.classStarterId, -1);
  EXPECT_EQ(room.screenSharerId, -1);
  ASSERT_EQ(state.count(), 1);
  EXPECT_FALSE(state.at(0).at(0).toBool());
}

TEST_F(SessionTest, EnteringARunningClassLearnsTheStarterLater) {
  session.classRunning();
  EXPECT_TRUE(room.classInProgress);
  EXPECT_EQ(room.classStarterId, -1);
  session.setClassingUser(kTeacher);
  EXPECT_TRUE(session.isClassStarter(kTeacher));
  EXPECT_EQ(room.screenSharerId, kTeacher);
}

TEST_F(SessionTest, OwnDevicesReachTheOwnRecordWhenItArrives) {
  QSignalSpy devices(&session, &RoomSession::ownDevicesChanged);
  session.setOwnDevices(RoomSession::kVideo, false);
  EXPECT_FALSE(session.ownHasCamera());
  EXPECT_EQ(devices.count(), 1);
  add(kTeacher, "老师");
  EXPECT_FALSE(session.member(kTeacher)->hasCamera);
  EXPECT_TRUE(session.member(kTeacher)->hasMicrophone);
}

}  // namespace

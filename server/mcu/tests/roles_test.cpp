// Who may do what in a room, over real sockets: the class, other members' media, granting and
// revoking floors and approving requests are the teacher side's (the teacher and its
// assistants, as their credentials say). Everybody handles its own media, asks for floors,
// cancels its own request and gives back its own floor. Refused actions are dropped; the
// member stays.
#include <gtest/gtest.h>

#include "mcu/server.h"
#include "raw_client.h"

namespace mcu_test {
namespace {

constexpr uint32_t kRoom = 9;
constexpr uint32_t kTeacher = 101, kAssistant = 102, kStudent = 103, kOther = 104, kAuditor = 105,
                   kLate = 106;

mcu::Config test_config() {
  mcu::Config config;
  config.listen_port = 0;
  config.media_port_base = 0;
  config.probe_interval_ms = 0;
  config.internal_token = testsupport::kTestSecret;
  return config;
}

// A session's messages are handled in order: once this answer is in, so is all it sent before.
void settle(raw_client& client) {
  ASSERT_EQ(client.send(36), 0);
  ASSERT_TRUE(client.expect(37));
}

mcu::RoomInfo room_of(const mcu::Server& server) {
  const auto rooms = server.rooms();
  return rooms.empty() ? mcu::RoomInfo{} : rooms[0];
}

uint32_t published(const mcu::Server& server, uint32_t user) {
  for (const auto& member : room_of(server).members)
    if (member.user_id == user)
      return member.published;
  return 0xFFFFFFFFu;
}

TEST(McuRoles, OnlyTheTeacherSideRunsTheClassAndOpensOthersMedia) {
  mcu::Server server(test_config());
  const uint16_t main = server.start();
  ASSERT_NE(main, 0);
  auto teacher = member(main, kRoom, kTeacher, 3, kTeacherRole);
  auto assistant = member(main, kRoom, kAssistant, 3, kAssistantRole);
  auto student = member(main, kRoom, kStudent, 3, kStudentRole);
  auto other = member(main, kRoom, kOther, 3, kStudentRole);
  auto auditor = member(main, kRoom, kAuditor, 3, kAuditorRole);
  ASSERT_TRUE(teacher && assistant && student && other && auditor);

  // A student's or an auditor's start is dropped; the teacher's then goes through.
  student->send(32);
  auditor->send(32);
  settle(*student);
  settle(*auditor);
  EXPECT_FALSE(room_of(server).class_running);
  teacher->send(32);
  auto started = teacher->expect(33);
  ASSERT_TRUE(started);
  EXPECT_EQ(started->payload, be32({0}));
  EXPECT_EQ(room_of(server).class_starter, kTeacher);

  // Others' media: a student neither closes the teacher's camera nor opens another's devices.
  teacher->send(4, be32({kTeacher, 1}));
  ASSERT_TRUE(teacher->expect(9));
  student->send(5, be32({kTeacher, 1}));
  student->send(4, be32({kOther, 1}));
  student->send(4, be32({kOther, 2}));
  settle(*student);
  EXPECT_EQ(published(server, kTeacher), 1u);
  EXPECT_EQ(published(server, kOther), 0u);
  // Its own it opens; the assistant opens and closes others'.
  student->send(4, be32({kStudent, 1}));
  ASSERT_TRUE(student->expect(9));
  assistant->send(4, be32({kOther, 2}));
  ASSERT_TRUE(other->expect(9));
  assistant->send(5, be32({kStudent, 1}));
  ASSERT_TRUE(student->expect(10));
  EXPECT_EQ(published(server, kOther), 2u);
  EXPECT_EQ(published(server, kStudent), 0u);

  // Neither a student nor an auditor stops the class; the assistant does, and the stop names
  // the assistant whatever id it gave.
  student->send(34, be32({kTeacher}));
  auditor->send(34, be32({kTeacher}));
  settle(*student);
  settle(*auditor);
  EXPECT_TRUE(room_of(server).class_running);
  assistant->send(34, be32({kTeacher}));
  auto stopped = other->expect(34);
  ASSERT_TRUE(stopped);
  EXPECT_EQ(stopped->payload, be32({kAssistant}));
  EXPECT_FALSE(room_of(server).class_running);

  // Dropped, not cut off: everyone is still here.
  EXPECT_EQ(server.stats().refused_actions, 7u);
  EXPECT_EQ(room_of(server).members.size(), 5u);
}

TEST(McuRoles, FloorsAreGrantedAndTakenBackByTheTeacherSide) {
  mcu::Server server(test_config());
  const uint16_t main = server.start();
  ASSERT_NE(main, 0);
  auto teacher = member(main, kRoom, kTeacher, 3, kTeacherRole);
  auto student = member(main, kRoom, kStudent, 3, kStudentRole);
  auto other = member(main, kRoom, kOther, 3, kStudentRole);
  ASSERT_TRUE(teacher && student && other);
  teacher->send(32);
  ASSERT_TRUE(teacher->expect(33));

  // The teacher writes and shares; a student takes neither over, ends neither and approves
  // nothing, not even its own request.
  teacher->send(50);
  ASSERT_TRUE(teacher->expect(51));
  teacher->send(44);
  ASSERT_TRUE(teacher->expect(45));
  student->send(50);
  student->send(52, be32({kTeacher}));
  student->send(44);
  student->send(46, be32({kTeacher}));
  student->send(56, be32({kTeacher}));
  student->send(38);
  student->send(42, be32({1, kStudent}));
  settle(*student);
  EXPECT_EQ(room_of(server).tag_holder, kTeacher);
  EXPECT_EQ(room_of(server).sharer, kTeacher);

  // The request reached the teacher, whose approval lets the student share (over the
  // teacher) and give it back.
  auto asked = teacher->expect(38);
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->payload, be32({kStudent}));
  teacher->send(42, be32({1, kStudent}));
  ASSERT_TRUE(student->expect(42));
  student->send(44);
  auto shared = student->expect(45);
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared->payload, be32({0}));
  EXPECT_EQ(room_of(server).sharer, kStudent);
  student->send(46, be32({kStudent}));
  auto given_back = student->expect(47);
  ASSERT_TRUE(given_back);
  EXPECT_EQ(given_back->payload, be32({0}));
  // Members entering now learn who holds the tool, and the teacher side who waits for it.
  other->send(38);
  ASSERT_TRUE(teacher->expect(38));
  auto late = member(main, kRoom, kLate, 3, kStudentRole);
  auto lateAssistant = member(main, kRoom, kAssistant, 3, kAssistantRole);
  ASSERT_TRUE(late && lateAssistant);
  auto holder = late->expect(42);
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->payload, be32({1, kStudent}));
  auto waiting = lateAssistant->expect(38);
  ASSERT_TRUE(waiting);
  EXPECT_EQ(waiting->payload, be32({kOther}));
  settle(*late);
  EXPECT_FALSE(late->expect(38, std::chrono::milliseconds(0))) << "a student is not told requests";
  other->send(40);
  ASSERT_TRUE(teacher->expect(40));
  // Taken back by the teacher, the tool shares no more.
  teacher->send(56, be32({kStudent}));
  ASSERT_TRUE(student->expect(56));
  student->send(44);
  settle(*student);
  EXPECT_EQ(room_of(server).sharer, -1);

  // Another student asks and cancels its own request.
  other->send(38);
  other->send(40);
  ASSERT_TRUE(teacher->expect(38));
  auto cancelled = teacher->expect(40);
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(cancelled->payload, be32({kOther}));

  // The board: a student writes on a free one only (the teacher's client frees it when it
  // approves), nobody else takes it from the student, and the teacher takes it back.
  teacher->send(52, be32({kTeacher}));
  ASSERT_TRUE(teacher->expect(53));
  student->send(50);
  ASSERT_TRUE(student->expect(51));
  other->send(50);
  other->send(52, be32({kStudent}));
  settle(*other);
  EXPECT_EQ(room_of(server).tag_holder, kStudent);
  teacher->send(52, be32({kStudent}));
  auto revoked = teacher->expect(53);
  ASSERT_TRUE(revoked);
  EXPECT_EQ(revoked->payload, be32({0}));
  EXPECT_EQ(room_of(server).tag_holder, -1);
  EXPECT_EQ(server.stats().refused_actions, 9u);
  EXPECT_EQ(room_of(server).members.size(), 5u);
}

// A class recorder logs in with its user's id and the recorder bit, on the credential of
// the room's teacher side: it hears the class like a member, is in nobody's list nor count,
// may ask and answer one to one, and does nothing else; a student's recorder is refused.
TEST(McuRoles, ARecorderOfTheTeacherSideListensUnseen) {
  mcu::Server server(test_config());
  const uint16_t main = server.start();
  ASSERT_NE(main, 0);
  auto teacher = member(main, kRoom, kTeacher, 3, kTeacherRole);
  auto student = member(main, kRoom, kStudent, 3, kStudentRole);
  ASSERT_TRUE(teacher && student);
  const uint32_t recorderId = kTeacher | pavo_wire::recorder_id_bit;
  auto login = [&](uint32_t user, int role) {
    auto client = std::make_unique<raw_client>(join_room(main, kRoom));
    client->send(0, be32({0, user | pavo_wire::recorder_id_bit}) +
                        credential_tail(testsupport::testCredential(user, kRoom, role)));
    return client;
  };
  auto refused = login(kStudent, kStudentRole);
  ASSERT_TRUE(refused->expect(70));
  auto recorder = login(kTeacher, kTeacherRole);
  auto list = recorder->expect(0);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->payload, be32({3, kTeacher, 3, kStudent}));

  // Nobody hears of it: no 13, not in 6, not counted by 3, not in the room's members.
  student->send(6);
  auto users = student->expect(6);
  ASSERT_TRUE(users);
  EXPECT_EQ(users->payload, be32({3, kTeacher, 3, kStudent}));
  student->send(3, be32({7}));
  auto count = student->expect(3);
  ASSERT_TRUE(count);
  EXPECT_EQ(count->payload, be32({7, 2}));
  EXPECT_FALSE(student->expect(13, std::chrono::milliseconds(0)));
  EXPECT_EQ(room_of(server).members.size(), 2u);

  // It hears the class, broadcasts and messages for it, and answers one to one.
  teacher->send(32);
  auto started = recorder->expect(32);
  ASSERT_TRUE(started);
  EXPECT_EQ(started->payload, be32({kTeacher}));
  student->send(65, be32({0}) + bytes({'h', 'i'}));
  auto heard = recorder->expect(65);
  ASSERT_TRUE(heard);
  EXPECT_EQ(heard->payload, be32({kStudent}) + bytes({'h', 'i'}));
  recorder->send(64, be32({kTeacher}) + bytes({'?'}));
  auto asked = teacher->expect(64);
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->payload, be32({recorderId}) + bytes({'?'}));
  teacher->send(64, be32({recorderId}) + bytes({'!'}));
  auto answered = recorder->expect(64);
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->payload, be32({kTeacher}) + bytes({'!'}));

  // Whatever else it sends is dropped, although its credential is the teacher's.
  const uint64_t before = server.stats().refused_actions;
  recorder->send(34, be32({kTeacher}));
  recorder->send(50);
  recorder->send(44);
  recorder->send(4, be32({recorderId, 1}));
  recorder->send(65, be32({0}) + bytes({'x'}));
  settle(*recorder);
  settle(*student);
  EXPECT_TRUE(room_of(server).class_running);
  EXPECT_EQ(room_of(server).tag_holder, -1);
  EXPECT_EQ(room_of(server).sharer, -1);
  EXPECT_FALSE(student->expect(65, std::chrono::milliseconds(0)));
  EXPECT_EQ(server.stats().refused_actions, before + 5);

  // Its leaving is not told either; the members' is told to it.
  student->send(1);
  ASSERT_TRUE(recorder->expect(1));
  ASSERT_TRUE(teacher->expect(1));
  recorder->send(1);
  settle(*teacher);
  EXPECT_FALSE(teacher->expect(1, std::chrono::milliseconds(0)));
}

}  // namespace
}  // namespace mcu_test

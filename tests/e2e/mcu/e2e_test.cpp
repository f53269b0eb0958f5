// End to end on loopback: libpavo instances (the shared library, as the client loads it)
// meet in one room through the real MCU.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "TestCredentials.h"
#include "eventually.h"
#include "libpavo/libpavo.h"
#include "mcu/server.h"
#include "recording_observer.h"

namespace {

using pavo_test::bytes;
using pavo_test::recording_observer;

constexpr uint32_t room_id = 1001;
constexpr uint32_t teacher_id = 10001;
constexpr uint32_t student_id = 10003;

struct member {
  recording_observer ui;
  Libpavo* library = nullptr;
  ~member() { Libpavo::destory(library); }
};

// Polls what the MCU's threads change, up to a generous limit.
using testsupport::eventually;

class McuEndToEnd : public ::testing::Test {
protected:
  void SetUp() override {
    mcu::Config config;
    config.listen_port = 0;
    config.internal_token = testsupport::kTestSecret;
    config.media_port_base = 0;
    server = std::make_unique<mcu::Server>(config);
    port = server->start();
    ASSERT_NE(port, 0);
    join(teacher, teacher_id, user_role_teacher);
    join(student, student_id, user_role_student);
    // The teacher hears the student come in.
    auto entered = teacher.ui.next_event(pavo_event_user_enter);
    ASSERT_TRUE(entered);
    EXPECT_EQ(entered->args[0], student_id);
  }

  void join(member& m, uint32_t id, user_role_t role) {
    // The credential's role is what the MCU believes (1 teacher, 2 student).
    const std::string credential =
        testsupport::testCredential(id, room_id, role == user_role_teacher ? 1 : 2);
    m.library = Libpavo::create(&m.ui, id, room_id, "127.0.0.1", port, role, credential.c_str());
    ASSERT_NE(m.library, nullptr);
    m.ui.owner = m.library;
    auto state = m.ui.next_event(pavo_event_connect_state);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->args[0], 1);
  }

  static bytes text(std::size_t size) {
    bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
      out[i] = static_cast<uint8_t>('a' + i % 26);
    return out;
  }

  std::unique_ptr<mcu::Server> server;
  uint16_t port = 0;
  // Destroyed before the server.
  member teacher, student;
};

TEST_F(McuEndToEnd, StudentSeesTheClassStartAndTheUserList) {
  auto users = student.ui.next_event(pavo_event_user_list);
  ASSERT_TRUE(users);
  ASSERT_EQ(users->args.size(), 4u);
  EXPECT_EQ(users->args[0], teacher_id);
  EXPECT_EQ(users->args[2], student_id);

  ASSERT_EQ(teacher.library->start_class(), 0);
  auto ack = teacher.ui.next("start_class_ack");
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->args[0], 0);
  auto started = student.ui.next("ss_start_class");
  ASSERT_TRUE(started);
  EXPECT_EQ(started->args[0], teacher_id);

  ASSERT_EQ(student.library->get_classing_user(), 0);
  auto starter = student.ui.next("get_classing_user_ack");
  ASSERT_TRUE(starter);
  EXPECT_EQ(starter->args, (std::vector<int64_t>{0, teacher_id}));
  ASSERT_EQ(student.library->get_class_state(), 0);
  auto state = student.ui.next("get_class_state_ack");
  ASSERT_TRUE(state);
  EXPECT_EQ(state->args[0], 1);
}

TEST_F(McuEndToEnd, PeerMessagesArriveWholeWithTheirAcknowledgements) {
  const bytes big = text(10 * 1024);
  ASSERT_EQ(teacher.library->send_p2p_msg(student_id, big.data(), big.size()), 0);
  auto received = student.ui.next("p2p_msg");
  ASSERT_TRUE(received);
  EXPECT_EQ(received->args[0], teacher_id);
  EXPECT_EQ(received->data, big);
  auto ack = teacher.ui.next("p2p_msg_ack");
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->args, (std::vector<int64_t>{student_id, 0}));  // fragment ack: no data

  const bytes hello = {'h', 'e', 'l', 'l', 'o'};
  ASSERT_EQ(student.library->send_p2p_msg(teacher_id, hello.data(), hello.size()), 0);
  auto small = teacher.ui.next("p2p_msg");
  ASSERT_TRUE(small);
  EXPECT_EQ(small->data, hello);
  auto small_ack = student.ui.next("p2p_msg_ack");
  ASSERT_TRUE(small_ack);
  EXPECT_EQ(small_ack->args, (std::vector<int64_t>{teacher_id, 1}));
  EXPECT_EQ(small_ack->data, hello);

  const bytes stroke = text(3000);
  ASSERT_EQ(teacher.library->send_p2all_msg(stroke.data(), stroke.size()), 0);
  auto broadcast = student.ui.next("p2all_msg");
  ASSERT_TRUE(broadcast);
  EXPECT_EQ(broadcast->args[0], teacher_id);
  EXPECT_EQ(broadcast->data, stroke);
  // The sender does not get its own broadcast back: the next thing it hears is the marker.
  ASSERT_EQ(student.library->send_p2p_msg(teacher_id, hello.data(), hello.size()), 0);
  ASSERT_TRUE(teacher.ui.next("p2p_msg"));
  EXPECT_EQ(teacher.ui.count("p2all_msg"), 0u);
}

TEST_F(McuEndToEnd, TagFloorMovesBetweenThem) {
  ASSERT_EQ(teacher.library->start_tag(), 0);
  ASSERT_TRUE(teacher.ui.next("start_tag_ack"));
  auto holder = student.ui.next("ss_start_tag");
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->args[0], teacher_id);

  // The teacher lets the student write, as its client does: it frees the board, and the
  // student takes it (a student takes only a free board).
  ASSERT_EQ(teacher.library->stop_tag(teacher_id), 0);
  ASSERT_TRUE(teacher.ui.next("stop_tag_ack"));
  auto freed = student.ui.next("ss_stop_tag");  // everybody hears the teacher's tag end
  ASSERT_TRUE(freed);
  EXPECT_EQ(freed->args[0], teacher_id);
  ASSERT_EQ(student.library->start_tag(), 0);
  ASSERT_TRUE(student.ui.next("start_tag_ack"));
  auto taken = teacher.ui.next("ss_start_tag");  // its own first, then the student's
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->args[0], teacher_id);
  taken = teacher.ui.next("ss_start_tag");
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->args[0], student_id);

  ASSERT_EQ(teacher.library->get_tag_users(), 0);
  auto users = teacher.ui.next("get_tag_users_ack");
  ASSERT_TRUE(users);
  EXPECT_EQ(users->args, (std::vector<int64_t>{0, 1, student_id}));

  // The teacher withdraws it.
  ASSERT_EQ(teacher.library->stop_tag(student_id), 0);
  auto withdrawn = teacher.ui.next("stop_tag_ack");
  ASSERT_TRUE(withdrawn);
  EXPECT_EQ(withdrawn->args[0], 0);
  auto gone = student.ui.next("ss_stop_tag");
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->args[0], student_id);
  ASSERT_EQ(student.library->get_tag_users(), 0);
  users = student.ui.next("get_tag_users_ack");
  ASSERT_TRUE(users);
  EXPECT_EQ(users->args, (std::vector<int64_t>{0, 0}));
}

TEST_F(McuEndToEnd, ShareFloorFromApplicationToCancel) {
  ASSERT_EQ(student.library->application_share(), 0);
  ASSERT_TRUE(student.ui.next("application_share_ack"));
  auto applied = teacher.ui.next("ss_application_share");
  ASSERT_TRUE(applied);
  EXPECT_EQ(applied->args[0], student_id);

  ASSERT_EQ(teacher.library->reply_share(student_id, 1), 0);
  auto replied = teacher.ui.next("reply_share_ack");
  ASSERT_TRUE(replied);
  EXPECT_EQ(replied->args, (std::vector<int64_t>{student_id, 1}));
  auto approved = student.ui.next("ss_reply_share");
  ASSERT_TRUE(approved);
  EXPECT_EQ(approved->args, (std::vector<int64_t>{student_id, 1}));

  ASSERT_EQ(student.library->start_share(), 0);
  ASSERT_TRUE(student.ui.next("start_share_ack"));
  auto sharing = teacher.ui.next("ss_start_share");
  ASSERT_TRUE(sharing);
  EXPECT_EQ(sharing->args[0], student_id);
  ASSERT_EQ(teacher.library->get_share_users(), 0);
  auto sharers = teacher.ui.next("get_share_users_ack");
  ASSERT_TRUE(sharers);
  EXPECT_EQ(sharers->args, (std::vector<int64_t>{0, 1, student_id}));

  ASSERT_EQ(teacher.library->stop_share(student_id), 0);
  auto stop_ack = teacher.ui.next("stop_share_ack");
  ASSERT_TRUE(stop_ack);
  EXPECT_EQ(stop_ack->args[0], 0);
  auto stopped = student.ui.next("ss_stop_share");
  ASSERT_TRUE(stopped);
  EXPECT_EQ(stopped->args[0], student_id);

  ASSERT_EQ(teacher.library->cancel_share(student_id), 0);
  ASSERT_TRUE(teacher.ui.next("cancel_share_ack"));
  auto cancelled = student.ui.next("ss_cancel_share");
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(cancelled->args[0], student_id);
  auto rooms = server->rooms();
  ASSERT_EQ(rooms.size(), 1u);
  EXPECT_EQ(rooms[0].sharer, -1);
}

TEST_F(McuEndToEnd, MediaOpensThroughTheMcuAndClosesWhenTheClassStops) {
  ASSERT_EQ(teacher.library->start_class(), 0);
  ASSERT_TRUE(student.ui.next("ss_start_class"));
  user_media_kind_t audio{teacher_id, media_kind_audio}, video{teacher_id, media_kind_video};
  ASSERT_EQ(teacher.library->media_ctrl(media_cmd_open_media, &audio), 0);
  auto own_audio = teacher.ui.next_event(pavo_event_media_open);
  ASSERT_TRUE(own_audio);
  EXPECT_EQ(own_audio->args, (std::vector<int64_t>{teacher_id, media_kind_audio}));
  auto heard = student.ui.next_event(pavo_event_media_open);
  ASSERT_TRUE(heard);
  EXPECT_EQ(heard->args, (std::vector<int64_t>{teacher_id, media_kind_audio}));

  ASSERT_EQ(teacher.library->media_ctrl(media_cmd_open_media, &video), 0);
  ASSERT_TRUE(teacher.ui.next_event(pavo_event_media_open));
  auto seen = student.ui.next_event(pavo_event_media_open);
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->args, (std::vector<int64_t>{teacher_id, media_kind_video}));
  ASSERT_EQ(student.library->media_ctrl(media_cmd_subscribe, &video), 0);
  // The student receives the room audio (subscribed by itself) and the teacher's camera.
  ASSERT_TRUE(eventually([&] {
    auto rooms = server->rooms();
    return rooms.size() == 1 && rooms[0].members.size() == 2 &&
           rooms[0].members[1].subscriptions == 2;
  }));
  EXPECT_EQ(server->rooms()[0].members[0].published, 3u);

  ASSERT_EQ(teacher.library->stop_class(teacher_id), 0);
  auto stopped = student.ui.next("ss_stop_class");
  ASSERT_TRUE(stopped);
  EXPECT_EQ(stopped->args[0], teacher_id);
  auto first = student.ui.next_event(pavo_event_media_close);
  auto second = student.ui.next_event(pavo_event_media_close);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->args[0], teacher_id);
  EXPECT_EQ(first->args[1] + second->args[1], media_kind_audio + media_kind_video);
  EXPECT_EQ(server->rooms()[0].members[0].published, 0u);
}

TEST_F(McuEndToEnd, LeavingAndBeingDisconnectedAreSeen) {
  Libpavo::destory(student.library);
  student.library = nullptr;
  auto left = teacher.ui.next_event(pavo_event_user_leave);
  ASSERT_TRUE(left);
  EXPECT_EQ(left->args[0], student_id);

  ASSERT_TRUE(server->disconnect_user(room_id, teacher_id));
  ASSERT_TRUE(teacher.ui.next_event(pavo_event_disconnected));
  EXPECT_EQ(teacher.library->start_class(), -1);
}

}  // namespace

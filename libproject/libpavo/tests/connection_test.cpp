// The connection thread against a scripted MCU: join, login, keep-alive, disconnection,
// teardown, and the messages the class-control operations send.
#include <functional>

#include "client_fixture.h"
#include "device_query.h"

namespace pavo_test {
namespace {

TEST_F(ClientTest, JoinsTheRoomThenLogsInOnTheRoomPort) {
  log_in();
  auto join = mcu.next(30);
  ASSERT_TRUE(join);
  EXPECT_EQ(join->payload, be32({room_id}));
  auto login = mcu.next(0);
  ASSERT_TRUE(login);
  EXPECT_NE(login->session, join->session);
  EXPECT_EQ(login->payload, be32({pavo::device_mask(), own_id}));
  EXPECT_EQ(mcu.sessions_opened(), 2u);
  EXPECT_TRUE(client->connected());
}

TEST_F(ClientTest, JoinAndLoginEndWithTheCredential) {
  credential = "1.10.77.1.1900000000000.0123abcdef";
  const bytes text(credential.begin(), credential.end());
  const bytes tail = be16(static_cast<uint16_t>(text.size())) + text;
  log_in();
  auto join = mcu.next(30);
  ASSERT_TRUE(join);
  EXPECT_EQ(join->payload, be32({room_id}) + tail);
  auto login = mcu.next(0);
  ASSERT_TRUE(login);
  EXPECT_EQ(login->payload, be32({pavo::device_mask(), own_id}) + tail);
}

TEST_F(ClientTest, ACredentialOverTheLimitIsNotSent) {
  credential = std::string(161, 'a');
  log_in();
  auto join = mcu.next(30);
  ASSERT_TRUE(join);
  EXPECT_EQ(join->payload, be32({room_id}));
  auto login = mcu.next(0);
  ASSERT_TRUE(login);
  EXPECT_EQ(login->payload, be32({pavo::device_mask(), own_id}));
}

TEST_F(ClientTest, JoinRefusedWithPortZeroDisconnectsWithoutLogin) {
  mcu.set_join_reply(31, be16(0));
  start_client();
  ASSERT_TRUE(observer.next_event(pavo_event_disconnected));
  EXPECT_EQ(mcu.sessions_opened(), 1u);
  EXPECT_TRUE(mcu.received(0).empty());
  EXPECT_EQ(observer.count("event11"), 0u);
}

TEST_F(ClientTest, UserListFollowsTheConnectedEvent) {
  start_client();
  auto first = observer.next_any();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->name, "event11");
  EXPECT_EQ(first->args, (std::vector<int64_t>{1}));
  auto second = observer.next_any();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->name, "event9");
  EXPECT_EQ(second->args, (std::vector<int64_t>{own_id, pavo::device_mask()}));
}

TEST_F(ClientTest, JoinAnsweredWithAnotherTypeDisconnectsWithoutLogin) {
  mcu.set_join_reply(32, be16(mcu.port()));
  start_client();
  ASSERT_TRUE(observer.next_event(pavo_event_disconnected));
  EXPECT_EQ(mcu.sessions_opened(), 1u);  // the room port was never tried
  EXPECT_TRUE(mcu.received(0).empty());
  EXPECT_EQ(client->start_class(), -1);
}

TEST_F(ClientTest, JoinAnswerTooShortForAPortDisconnects) {
  mcu.set_join_reply(31, bytes{0x12});
  start_client();
  ASSERT_TRUE(observer.next_event(pavo_event_disconnected));
  EXPECT_EQ(mcu.sessions_opened(), 1u);
}

TEST_F(ClientTest, NoMcuListeningDisconnects) {
  uint16_t dead_port;
  {
    fake_mcu gone;
    dead_port = gone.port();
  }
  start_client(300, dead_port);
  ASSERT_TRUE(observer.next_event(pavo_event_disconnected));
  EXPECT_EQ(observer.count("event11"), 0u);
}

TEST_F(ClientTest, ThreeSilencesInARowSendThreeKeepAlivesThenDisconnect) {
  log_in(400);
  // Two silences, then a ping: the count starts again.
  ASSERT_TRUE(mcu.next(100000));
  ASSERT_TRUE(mcu.next(100000));
  ASSERT_EQ(mcu.send(100002), 0);
  ASSERT_TRUE(mcu.next(100003));
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(mcu.next(100000)) << i;
  ASSERT_TRUE(observer.next_event(pavo_event_disconnected));
  EXPECT_FALSE(client->connected());
  EXPECT_TRUE(mcu.received(100000).empty());
  EXPECT_EQ(observer.count("event7"), 0u);  // once
}

TEST_F(ClientTest, KickedByTheMcuDisconnectsAndRefusesOperations) {
  log_in();
  ASSERT_EQ(mcu.send(70), 0);
  ASSERT_TRUE(observer.next_event(pavo_event_disconnected));
  EXPECT_EQ(client->start_class(), -1);
  EXPECT_EQ(client->send_p2all_msg(reinterpret_cast<const uint8_t*>("x"), 1), -1);
  user_media_kind_t own = stream(own_id, 1);
  EXPECT_EQ(client->media_ctrl(media_cmd_open_media, &own), -1);
}

TEST_F(ClientTest, TeardownSendsLeave) {
  log_in();
  client.reset();
  auto leave = mcu.next(1);
  ASSERT_TRUE(leave);
  EXPECT_TRUE(leave->payload.empty());
  EXPECT_EQ(observer.count("event7"), 0u);  // leaving is not a lost connection
}

TEST_F(ClientTest, OperationsAreRefusedUntilTheLoginIsAccepted) {
  mcu.set_answer_login(false);
  start_client();
  ASSERT_TRUE(mcu.wait_logged_in());
  EXPECT_EQ(client->start_class(), -1);
  EXPECT_EQ(client->get_classing_user(), -1);
  EXPECT_EQ(client->send_p2p_msg(5, reinterpret_cast<const uint8_t*>("x"), 1), -1);
  EXPECT_EQ(client->media_ctrl(media_cmd_user_list, nullptr), -1);
  EXPECT_EQ(client->media_ctrl(media_cmd_video_on, nullptr), -1);
  EXPECT_EQ(client->media_ctrl(99, nullptr), -1);
  // Device commands do not need the MCU.
  EXPECT_GE(client->media_ctrl(media_cmd_device_count, reinterpret_cast<void*>(1)), 0);
  EXPECT_EQ(client->media_ctrl(media_cmd_free_frame, nullptr), 0);
  mcu.send(0, be32({3, own_id}));
  ASSERT_TRUE(observer.next_event(pavo_event_connect_state));
  EXPECT_EQ(client->media_ctrl(99, nullptr), 0);  // unknown commands: 0 once connected
  EXPECT_EQ(client->start_class(), 0);
  EXPECT_TRUE(mcu.next(32));
}

TEST_F(ClientTest, EachOperationSendsItsMessage) {
  log_in();
  struct expected_send {
    std::function<int()> call;
    uint32_t type;
    bytes payload;
  };
  libpavo* c = client.get();
  const expected_send table[] = {
      {[c] { return c->start_class(); }, 32, {}},
      {[c] { return c->stop_class(10); }, 34, be32({10})},
      {[c] { return c->get_class_state(); }, 36, {}},
      {[c] { return c->application_share(); }, 38, {}},
      {[c] { return c->cancel_application(); }, 40, {}},
      {[c] { return c->reply_share(20, 1); }, 42, be32({1, 20})},
      {[c] { return c->start_share(); }, 44, {}},
      {[c] { return c->stop_share(20); }, 46, be32({20})},
      {[c] { return c->get_share_users(); }, 48, {}},
      {[c] { return c->start_tag(); }, 50, {}},
      {[c] { return c->stop_tag(21); }, 52, be32({21})},
      {[c] { return c->get_tag_users(); }, 54, {}},
      {[c] { return c->cancel_share(22); }, 56, be32({22})},
      {[c] { return c->get_classing_user(); }, 66, {}},
      {[c] { return c->media_ctrl(media_cmd_user_list, nullptr); }, 6, {}},
      {[c] { return c->media_ctrl(media_cmd_reserved, reinterpret_cast<void*>(7)); }, 3, be32({7})},
  };
  for (const auto& entry : table) {
    ASSERT_EQ(entry.call(), 0) << entry.type;
    auto sent = mcu.next(entry.type);
    ASSERT_TRUE(sent) << entry.type;
    EXPECT_EQ(sent->payload, entry.payload) << entry.type;
  }
}

TEST_F(ClientTest, AnswersPingsAndProbes) {
  log_in();
  mcu.send(100002);
  ASSERT_TRUE(mcu.next(100003));
  mcu.send(8, be32({0x01020304}));
  auto probe = mcu.next(8);
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->payload, be32({0x01020304, pavo::device_mask()}));
}

TEST_F(ClientTest, ObserverHearsFloorAndClassMessages) {
  log_in();
  mcu.send(32, be32({5}));
  mcu.send(33, be32({0}));
  mcu.send(37, be32({1}));
  mcu.send(50, be32({6}));
  mcu.send(55, be32({0, 1, 6}));
  mcu.send(3, be32({8, 9}));
  mcu.send(13, be32({2, 31}));
  auto started = observer.next("ss_start_class");
  ASSERT_TRUE(started);
  EXPECT_EQ(started->args[0], 5);
  EXPECT_TRUE(observer.next("start_class_ack"));
  auto state = observer.next("get_class_state_ack");
  ASSERT_TRUE(state);
  EXPECT_EQ(state->args[0], 1);
  EXPECT_TRUE(observer.next("ss_start_tag"));
  auto tags = observer.next("get_tag_users_ack");
  ASSERT_TRUE(tags);
  EXPECT_EQ(tags->args, (std::vector<int64_t>{0, 1, 6}));
  auto reserved = observer.next_event(pavo_event_reserved);
  ASSERT_TRUE(reserved);
  EXPECT_EQ(reserved->args, (std::vector<int64_t>{8, 9}));
  auto enter = observer.next_event(pavo_event_user_enter);
  ASSERT_TRUE(enter);
  EXPECT_EQ(enter->args, (std::vector<int64_t>{31, 2}));
}

}  // namespace
}  // namespace pavo_test

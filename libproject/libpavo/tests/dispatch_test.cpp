// The dispatch table on its own: length checks, automatic answers and field order.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mcu_dispatch.h"
#include "pavo_test_support.h"

namespace {

using namespace pavo_test;

struct sent_message {
  uint32_t type;
  bytes payload;
};

class recording_sender : public sendmsg2mcu {
public:
  int send_msg(uint32_t type, const void* payload, unsigned length) override {
    const auto* p = static_cast<const uint8_t*>(payload);
    sent.push_back({type, bytes(p, p + length)});
    return 0;
  }
  std::vector<sent_message> sent;
};

class recording_events : public mcu_events {
public:
  void on_logged_in() override { calls.push_back("logged_in"); }
  void on_user_list(const user_media_t* users, unsigned count) override {
    std::string s = "users";
    for (unsigned i = 0; i < count; ++i)
      s += " " + std::to_string(users[i].user_id) + ":" + std::to_string(users[i].mask);
    calls.push_back(s);
  }
  void on_user_left(uint32_t id) override { calls.push_back("left " + std::to_string(id)); }
  void on_reserved(uint32_t a, uint32_t b) override {
    calls.push_back("reserved " + std::to_string(a) + " " + std::to_string(b));
  }
  uint32_t device_mask() override { return 3; }
  void on_open_sender(uint32_t kind, uint16_t port) override {
    calls.push_back("open " + std::to_string(kind) + " " + std::to_string(port));
  }
  void on_close_sender(uint32_t, uint32_t) override { calls.push_back("close"); }
  void on_media_published(uint32_t, uint32_t) override { calls.push_back("published"); }
  void on_media_unpublished(uint32_t, uint32_t) override { calls.push_back("unpublished"); }
  void on_user_login(const user_media_t& u) override {
    calls.push_back("login " + std::to_string(u.user_id) + ":" + std::to_string(u.mask));
  }
  void on_retransmit(uint32_t kind, const uint16_t* seqs, unsigned count) override {
    std::string s = "retransmit " + std::to_string(kind);
    for (unsigned i = 0; i < count; ++i)
      s += " " + std::to_string(seqs[i]);
    calls.push_back(s);
  }
  void on_bandwidth(uint32_t, uint32_t) override { calls.push_back("bandwidth"); }
  void on_quality(uint32_t, uint32_t) override { calls.push_back("quality"); }
  void on_media_port(uint32_t id, uint32_t kind, uint16_t port,
                     const pavo_wire::media_token& token) override {
    calls.push_back("port " + std::to_string(id) + " " + std::to_string(kind) + " " +
                    std::to_string(port) + " token " + std::to_string(token.bytes[0]) + ".." +
                    std::to_string(token.bytes[15]));
  }
  void on_existing_media(const user_media_t* list, unsigned count) override {
    std::string s = "existing";
    for (unsigned i = 0; i < count; ++i)
      s += " " + std::to_string(list[i].user_id) + ":" + std::to_string(list[i].mask);
    calls.push_back(s);
  }
  void on_class_stopped() override { calls.push_back("class_stopped"); }
  void on_kicked() override { calls.push_back("kicked"); }
  std::vector<std::string> calls;
};

class DispatchTest : public ::testing::Test {
protected:
  void feed(uint32_t type, const bytes& payload) {
    dispatch.dispatch(type, payload.empty() ? nullptr : payload.data(),
                      static_cast<unsigned>(payload.size()));
  }
  std::optional<ui_call> ui_next(const std::string& name) {
    return observer.next(name, std::chrono::milliseconds(0));
  }

  recording_observer observer;
  recording_events events;
  recording_sender sender;
  pavo::mcu_dispatch dispatch{observer, events, sender};
};

TEST_F(DispatchTest, LoginReplyConnectsThenListsUsersMaskFirst) {
  feed(0, be32({3, 10, 1, 11}));
  EXPECT_EQ(events.calls, (std::vector<std::string>{"logged_in", "users 10:3 11:1"}));
  feed(29, be32({10, 3, 11, 2}) + bytes{1, 2, 3});  // id first; a partial entry is not read
  EXPECT_EQ(events.calls.back(), "existing 10:3 11:2");
}

TEST_F(DispatchTest, FixedLengthMessagesOfAnotherLengthAreIgnored) {
  feed(3, be32({1}) + bytes{0, 0, 0});            // 7 bytes
  feed(9, be32({0, 1}) + be16(4000) + bytes{0});  // 11 bytes
  feed(10, be32({1}));
  feed(11, be32({1, 2, 3}));
  feed(12, bytes(7));
  feed(13, be32({1}));
  feed(21, be32({1, 2}));
  feed(21, be32({1, 2}) + be16(5000));  // no token
  feed(14, be32({1, 3, 0}));  // 3 numbers announced, 2 present
  EXPECT_TRUE(events.calls.empty());
  feed(3, be32({5, 6}));
  feed(9, be32({0, 1}) + be16(4000));
  feed(13, be32({3, 42}));
  feed(14, be32({1, 2}) + be16(7) + be16(65535));
  bytes token(16);
  for (std::size_t i = 0; i < token.size(); ++i)
    token[i] = static_cast<uint8_t>(i + 1);
  feed(21, be32({42, 4}) + be16(5000) + token);
  EXPECT_EQ(events.calls,
            (std::vector<std::string>{"reserved 5 6", "open 1 4000", "login 42:3",
                                      "retransmit 1 7 65535", "port 42 4 5000 token 1..16"}));
}

TEST_F(DispatchTest, ShortMessagesNeverReachTheObserver) {
  for (uint32_t type :
       {1u, 32u, 33u, 34u, 38u, 42u, 43u, 44u, 49u, 55u, 64u, 65u, 67u, 68u, 71u, 72u, 73u})
    feed(type, bytes{1, 2, 3});
  EXPECT_TRUE(events.calls.empty());
  EXPECT_TRUE(sender.sent.empty());
  EXPECT_FALSE(ui_next("ss_start_class"));
  EXPECT_FALSE(ui_next("p2p_msg"));
}

TEST_F(DispatchTest, AnswersTheMessagesThatAreAnsweredAutomatically) {
  feed(38, be32({7}));
  feed(40, be32({7}));
  feed(42, be32({1, 7}));
  feed(8, be32({0xAABBCCDD}) + bytes{9, 9});
  feed(100002, {});
  feed(64, be32({7}) + bytes{'h', 'i'});
  ASSERT_EQ(sender.sent.size(), 6u);
  EXPECT_EQ(sender.sent[0].type, 39u);
  EXPECT_EQ(sender.sent[0].payload, be32({7}));
  EXPECT_EQ(sender.sent[1].type, 41u);
  EXPECT_EQ(sender.sent[2].type, 43u);
  EXPECT_EQ(sender.sent[2].payload, be32({1, 7}));
  EXPECT_EQ(sender.sent[3].type, 8u);
  EXPECT_EQ(sender.sent[3].payload, be32({0xAABBCCDD, 3}));
  EXPECT_EQ(sender.sent[4].type, 100003u);
  EXPECT_TRUE(sender.sent[4].payload.empty());
  EXPECT_EQ(sender.sent[5].type, 68u);
  EXPECT_EQ(sender.sent[5].payload, be32({7}) + bytes({'h', 'i'}));

  auto reply = ui_next("ss_reply_share");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->args, (std::vector<int64_t>{7, 1}));  // user id, reply
  auto p2p = ui_next("p2p_msg");
  ASSERT_TRUE(p2p);
  EXPECT_EQ(p2p->args[0], 7);
  EXPECT_EQ(p2p->data, (bytes{'h', 'i'}));
}

TEST_F(DispatchTest, ClassingUserCodeKeepsItsWireBytes) {
  feed(67, be32({1, 1, 42}));
  auto ack = ui_next("get_classing_user_ack");
  ASSERT_TRUE(ack);
  const int code = static_cast<int>(ack->args[0]);
  uint8_t raw[4];
  std::memcpy(raw, &code, 4);
  EXPECT_EQ(raw[0], 0);
  EXPECT_EQ(raw[1], 0);
  EXPECT_EQ(raw[2], 0);
  EXPECT_EQ(raw[3], 1);
  EXPECT_EQ(ack->args[1], 42);
  // A count of one with no id is too short; count 0 reports user 0.
  feed(67, be32({0, 1}));
  EXPECT_FALSE(ui_next("get_classing_user_ack"));
  feed(67, be32({0, 0}));
  ack = ui_next("get_classing_user_ack");
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->args, (std::vector<int64_t>{0, 0}));
}

TEST_F(DispatchTest, IdListsMustHoldTheirCount) {
  feed(49, be32({0, 3, 1, 2}));  // 3 announced, 2 present
  EXPECT_FALSE(ui_next("get_share_users_ack"));
  feed(55, be32({0, 2, 5, 6}) + bytes{0});
  auto ack = ui_next("get_tag_users_ack");
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->args, (std::vector<int64_t>{0, 2, 5, 6}));
}

TEST_F(DispatchTest, FragmentsAboveTheirSizeOrWithoutAStartAreDropped) {
  feed(71, be32({7, 0, 3000}) + bytes(1389));  // 1401 bytes: too big for a fragment
  EXPECT_EQ(dispatch.peer_fragments().entries(), 0u);
  feed(72, be32({7, 0, 1u << 30}) + bytes(100));  // total above the limit
  EXPECT_EQ(dispatch.broadcast_fragments().entries(), 0u);
  // A whole message in one fragment completes at once and is acknowledged with 73.
  feed(71, be32({7, 0, 5}) + bytes{'h', 'e', 'l', 'l', 'o'});
  ASSERT_EQ(sender.sent.size(), 1u);
  EXPECT_EQ(sender.sent[0].type, 73u);
  EXPECT_EQ(sender.sent[0].payload, be32({7}));
  auto p2p = ui_next("p2p_msg");
  ASSERT_TRUE(p2p);
  EXPECT_EQ(p2p->data.size(), 5u);
  feed(72, be32({8, 0, 2}) + bytes{'o', 'k'});
  auto all = ui_next("p2all_msg");
  ASSERT_TRUE(all);
  EXPECT_EQ(all->args[0], 8);
  EXPECT_EQ(sender.sent.size(), 1u);  // broadcasts are not acknowledged
}

TEST_F(DispatchTest, ClassStopStopsMediaBeforeTellingTheObserver) {
  feed(34, be32({9}));
  EXPECT_EQ(events.calls, (std::vector<std::string>{"class_stopped"}));
  EXPECT_TRUE(ui_next("ss_stop_class"));
  feed(70, {});
  EXPECT_EQ(events.calls.back(), "kicked");
}

}  // namespace

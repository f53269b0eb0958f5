// Message servers on two nodes joined by a nats-server of the test's own:
// one channel, whichever node its members are on.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ChildNats.h"
#include "RawClient.h"
#include "ServiceHarness.h"
#include "eventually.h"
#include "msgserver/Server.h"

namespace {

using msgtest::RawClient;
using testsupport::ChildNats;
using testsupport::eventually;
namespace wire = corda::wire;

constexpr std::uint32_t kRoom = 1001;
constexpr std::uint32_t kTeacher = 10001, kStudent1 = 10003, kStudent2 = 10004;

struct Heard {
  std::uint32_t sender = 0;
  std::string target;
  std::string text;
};

std::optional<Heard> next_heard(RawClient& client) {
  std::string storage;
  const auto d = client.next_deliver(storage);
  if (!d)
    return std::nullopt;
  return Heard{d->sender_id, std::string(d->target), std::string(d->text)};
}

std::string text_of(RawClient& client) {
  const auto heard = next_heard(client);
  return heard ? heard->text : std::string();
}

std::optional<std::uint16_t> close_code(const std::optional<msgtest::OwnedFrame>& f) {
  if (!f || f->type != wire::FrameType::close || f->payload.size() < 2)
    return std::nullopt;
  return static_cast<std::uint16_t>((static_cast<unsigned char>(f->payload[0]) << 8) |
                                    static_cast<unsigned char>(f->payload[1]));
}

class ClusterTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::filesystem::exists(TAV_NATS_SERVER))
      GTEST_SKIP() << "no nats-server (scripts/setup installs it)";
    nats_ = std::make_unique<ChildNats>(TAV_NATS_SERVER);
    ASSERT_TRUE(nats_->ok()) << "nats-server did not start";
  }

  // A node on the test's NATS (unless config names others); it has NATS once it returns.
  std::unique_ptr<msgserver::Server> node(msgserver::Config config = {}) {
    config.listen_port = 0;
    config.internal_token = testsupport::kTestSecret;
    if (config.nats_urls.empty())
      config.nats_urls = {nats_->url()};
    auto server = std::make_unique<msgserver::Server>(config);
    EXPECT_NE(server->start(), 0) << server->error();
    EXPECT_TRUE(eventually([&] { return server->stats().cluster_up; }));
    return server;
  }
  static std::unique_ptr<RawClient> join(const msgserver::Server& node, std::uint32_t user,
                                         std::uint32_t channel, int role = 2) {
    auto client = std::make_unique<RawClient>(node.port());
    EXPECT_TRUE(client->hello(user, channel, role)) << "user " << user << " not welcomed";
    return client;
  }

  std::unique_ptr<ChildNats> nats_;
};

// Members on both nodes hear each other by the one delivery rule, each sender's messages in
// the order sent while two senders on different nodes send at once; a node listens to NATS
// only for channels it has members in.
TEST_F(ClusterTest, OneChannelOverTwoNodesKeepsTheDeliveryRuleAndEachSendersOrder) {
  auto one = node();
  // Given the servers of a NATS cluster, a node takes the one that answers.
  msgserver::Config cluster;
  cluster.nats_urls = {"nats://127.0.0.1:1", nats_->url()};
  auto two = node(cluster);
  auto a = join(*one, 1, 500);
  auto b = join(*two, 2, 500);
  auto b2 = join(*two, 2, 500);  // the same user twice, on the other node
  auto stranger = join(*one, 3, 501);

  // Right after its welcome a member hears the other node's sends.
  ASSERT_TRUE(a->send("2", R"({"m":"to two"})"));
  for (RawClient* c : {b.get(), b2.get()}) {
    const auto heard = next_heard(*c);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->sender, 1u);
    EXPECT_EQ(heard->target, "2");
    EXPECT_EQ(heard->text, R"({"m":"to two"})");
  }
  ASSERT_TRUE(b->send("1", R"({"m":"to one"})"));
  EXPECT_EQ(text_of(*a), R"({"m":"to one"})");

  // Both send to everybody at once: everyone hears all, each sender in order.
  constexpr int kEach = 300;
  std::thread other([&] {
    for (int i = 0; i < kEach; ++i)
      b->send("*", "{\"from\":2,\"n\":" + std::to_string(i) + "}");
  });
  for (int i = 0; i < kEach; ++i)
    ASSERT_TRUE(a->send("*", "{\"from\":1,\"n\":" + std::to_string(i) + "}"));
  other.join();
  for (RawClient* c : {a.get(), b.get(), b2.get()}) {
    std::map<std::uint32_t, int> next{{1, 0}, {2, 0}};
    for (int i = 0; i < 2 * kEach; ++i) {
      const auto heard = next_heard(*c);
      ASSERT_TRUE(heard) << "after " << i << " messages";
      const std::string want = "{\"from\":" + std::to_string(heard->sender) +
                               ",\"n\":" + std::to_string(next[heard->sender]++) + "}";
      ASSERT_EQ(heard->text, want);
    }
  }
  // The other channel heard nothing: the first thing to reach it is this.
  auto marker = join(*two, 4, 501);
  ASSERT_TRUE(marker->send("*", "{}"));
  EXPECT_EQ(text_of(*stranger), "{}");

  // Subscriptions follow the members: node one holds channels 500 and 501 (and its own
  // marker subject); when channel 500's member leaves it, it lets 500 go.
  EXPECT_EQ(one->stats().cluster_subscriptions, 3u);
  a.reset();
  EXPECT_TRUE(eventually([&] { return one->stats().cluster_subscriptions == 2u; }));
  EXPECT_EQ(one->stats().cluster_failed + two->stats().cluster_failed, 0u);
}

// A second login of the same account on another node is heard by the first (the one-login
// channel carries the announcement to the user's own id); other users' lobbies hear nothing.
TEST_F(ClusterTest, SecondLoginOnAnotherNodeReachesTheFirst) {
  auto one = node();
  auto two = node();
  constexpr std::uint32_t kLobby = msgserver::kOneLoginChannel;
  auto first = join(*one, 7, kLobby);
  auto other_user = join(*one, 8, kLobby);
  auto second = join(*two, 7, kLobby);
  const std::string announce = R"({"typeId":"1","sendUserId":7,"content":"10.0.0.2"})";
  ASSERT_TRUE(second->send("7", announce));
  EXPECT_EQ(text_of(*first), announce);
  EXPECT_EQ(text_of(*second), announce);
  ASSERT_TRUE(second->send("07", "{}"));  // the same user, written otherwise
  EXPECT_EQ(text_of(*first), "{}");
  // A lobby is subscribed to its own users' subjects only (and to "*").
  ASSERT_TRUE(other_user->send("8", R"({"typeId":"1","sendUserId":8})"));
  EXPECT_EQ(text_of(*other_user), R"({"typeId":"1","sendUserId":8})");
  EXPECT_EQ(one->stats().cluster_subscriptions, 4u);  // marker, all, 7, 8
  EXPECT_EQ(two->stats().cluster_subscriptions, 3u);  // marker, all, 7
}

// Mute and removal hold for members on every node: a muted member's chat on one node reaches
// nobody on the other, an allowed chat arrives there as the service stored it; a removal cuts
// the member off whichever node it is on and keeps it out of both.
TEST_F(ClusterTest, MuteAndRemovalHoldOnEveryNode) {
  tavtest::ServiceHarness service(
      true, [](tavsvc::ServiceConfig& c) { c.internalToken = testsupport::kTestSecret; });
  msgserver::Config config;
  config.service_url = config.moderation_url = "http://127.0.0.1:" + std::to_string(service.port());
  auto one = node(config);
  auto two = node(config);
  ASSERT_TRUE(eventually(
      [&] { return one->stats().removal_lists >= 1 && two->stats().removal_lists >= 1; }));
  const tavtest::Login teacher = service.login("teacher");
  auto black = [&](const char* action, std::uint32_t user, int type) {
    const auto answer = service.post(std::string("rms/service/room/") + action,
                                     tavtest::form({{"globalId", std::to_string(user)},
                                                    {"roomId", std::to_string(kRoom)},
                                                    {"type", std::to_string(type)},
                                                    {"optionUser", "10001"}}),
                                     teacher.ticket);
    ASSERT_EQ(answer["code"], 0) << answer.dump();
  };
  auto owner = join(*one, kTeacher, kRoom, 1);
  auto muted = join(*two, kStudent2, kRoom);
  auto listener = join(*two, kStudent1, kRoom);

  black("addRoomBlack", kStudent2, 1);
  ASSERT_TRUE(muted->send("*", R"({"typeId":"0","sendUserId":10004,"content":"muted"})"));
  const std::string marker = R"({"typeId":"31","sendUserId":10004})";
  ASSERT_TRUE(muted->send("*", marker));
  EXPECT_EQ(text_of(*owner), marker);  // the refused chat before it reached nobody
  // Chat the node receives before it has heard of the restore is still judged muted.
  const auto lists = two->stats().removal_lists;
  black("removeRoomBlack", kStudent2, 1);
  ASSERT_TRUE(eventually([&] { return two->stats().removal_lists > lists; }));
  ASSERT_TRUE(muted->send("*", R"({"typeId":"0","sendUserId":10004,"content":"allowed"})"));
  const auto stored = tavtest::json::parse(text_of(*owner), nullptr, false);
  EXPECT_EQ(stored.value("content", ""), "allowed");
  EXPECT_EQ(stored.value("sendUserId", 0), static_cast<int>(kStudent2));

  black("addRoomBlack", kStudent2, 2);
  auto last = muted->next();  // its own messages' echoes come first
  while (last && last->type == wire::FrameType::deliver)
    last = muted->next();
  EXPECT_EQ(close_code(last), static_cast<std::uint16_t>(wire::CloseCode::credential_refused));
  for (const auto* n : {one.get(), two.get()}) {
    EXPECT_TRUE(eventually([&] {
      RawClient again(n->port());
      return close_code(again.hello_with(kStudent2, kRoom,
                                         testsupport::testCredential(kStudent2, kRoom, 2))) ==
             static_cast<std::uint16_t>(wire::CloseCode::credential_refused);
    }));
  }
  ASSERT_TRUE(listener->send("*", R"({"typeId":"31","sendUserId":10003})"));
  EXPECT_EQ(text_of(*owner), R"({"typeId":"31","sendUserId":10003})");
}

// NATS gone: the node says so, takes no new member (closed without a word, so the client tries
// again elsewhere instead of asking for a new credential), closes its members after the grace;
// NATS back: the node rejoins and relays across nodes again.
TEST_F(ClusterTest, ANodeWithoutNatsTakesNobodyAndRejoinsWhenItIsBack) {
  msgserver::Config config;
  config.nats_grace = std::chrono::milliseconds(200);
  auto one = node(config);
  auto two = node(config);
  auto member = join(*one, 1, 600);

  nats_->stop();
  ASSERT_TRUE(eventually([&] { return !one->stats().cluster_up; }));
  EXPECT_EQ(close_code(member->next()), static_cast<std::uint16_t>(wire::CloseCode::shutting_down));
  RawClient late(one->port());
  const auto answer = late.hello_with(2, 600, testsupport::testCredential(2, 600));
  EXPECT_FALSE(answer);
  EXPECT_TRUE(late.closed() && !late.saw_close());
  EXPECT_GE(one->stats().cluster_refused, 1u);

  ASSERT_TRUE(nats_->restart());
  ASSERT_TRUE(eventually([&] { return one->stats().cluster_up && two->stats().cluster_up; }));
  auto a = join(*one, 1, 600);
  auto b = join(*two, 2, 600);
  ASSERT_TRUE(b->send("*", R"({"m":"back"})"));
  EXPECT_EQ(text_of(*a), R"({"m":"back"})");
}

}  // namespace

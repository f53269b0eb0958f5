// Chat on room channels is relayed only once the service has stored it, in the
// channel's order; the service refuses senders it does not let chat.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "ChatForwarder.h"
#include "FakeService.h"
#include "RawClient.h"
#include "TextCheck.h"
#include "eventually.h"
#include "msgserver/Server.h"
#include "tavsrv/ChatHandoff.h"

namespace {

using msgtest::FakeService;
using msgtest::RawClient;
namespace wire = corda::wire;

// The server exposes what it forwarded only as counters: they are polled.
using testsupport::eventually;

std::unique_ptr<msgserver::Server> start_server(const std::string& url, std::size_t held = 256) {
  msgserver::Config config;
  config.listen_port = 0;
  config.service_url = url;
  config.internal_token = testsupport::kTestSecret;
  config.max_held_per_channel = held;
  auto server = std::make_unique<msgserver::Server>(config);
  EXPECT_NE(server->start(), 0) << server->error();
  return server;
}

std::unique_ptr<RawClient> join(const msgserver::Server& server, std::uint32_t user,
                                std::uint32_t channel) {
  auto client = std::make_unique<RawClient>(server.port());
  EXPECT_TRUE(client->hello(user, channel));
  return client;
}

std::string next_text(RawClient& client) {
  std::string storage;
  const auto d = client.next_deliver(storage);
  return d ? std::string(d->text) : std::string();
}

// Sends and waits for the echo, so the server has handled it before anything later.
void send_and_echo(RawClient& client, const std::string& text) {
  ASSERT_TRUE(client.send("*", text));
  ASSERT_EQ(next_text(client), text);
}

TEST(ChatForwardTest, ForwardsChatMessagesOfRoomChannelsOnly) {
  FakeService service;
  auto server = start_server(service.url());

  auto login = join(*server, 5, msgserver::kOneLoginChannel);
  send_and_echo(*login, R"({"typeId":"0","content":"one-login channel"})");

  auto room = join(*server, 5, 300);
  send_and_echo(*room, R"({"typeId":"30","content":"1"})");
  send_and_echo(*room, R"({"typeId":0,"content":"number"})");
  send_and_echo(*room, R"({"content":"no type"})");
  // The record names the connection's user, and the type as receivers read it.
  const std::string text = R"({"typeId":"00","sendUserId":5,"content":"你好 & a=b %20+"})";
  send_and_echo(*room, text);
  send_and_echo(*room, R"({"typeId":"10","content":"p.png"})");
  send_and_echo(*room, R"({"typeId":"020","content":"v.amr","voiceSeconds":3})");

  ASSERT_TRUE(service.wait_posts(3));
  const auto posts = service.posts();
  ASSERT_EQ(posts.size(), 3u);  // anything skipped would have arrived first
  EXPECT_EQ(posts[0].form.at("chatRoomId"), "300");
  EXPECT_EQ(posts[0].form.at("userId"), "5");
  EXPECT_EQ(posts[0].form.at("typeId"), "0");
  EXPECT_EQ(tavsrv::decodeChatText(posts[0].form.at("content64")), text);
  EXPECT_EQ(posts[0].token, testsupport::kTestSecret);
  EXPECT_EQ(posts[0].content_type, "application/x-www-form-urlencoded");
  EXPECT_EQ(posts[1].form.at("typeId"), "10");
  EXPECT_EQ(posts[2].form.at("typeId"), "20");
  EXPECT_EQ(server->stats().chat_forwarded, 3u);  // each echo came after its verdict
}

TEST(ChatForwardTest, ChatWaitsForTheServiceAndTheChannelKeepsItsOrder) {
  FakeService service;
  auto server = start_server(service.url());
  auto a = join(*server, 5, 300);
  auto b = join(*server, 6, 300);
  auto elsewhere = join(*server, 7, 301);

  service.hold();
  const std::string chat = R"({"typeId":"0","content":"first"})";
  ASSERT_TRUE(a->send("*", chat));
  ASSERT_TRUE(service.wait_entered(1));
  // Sent after the chat: they wait behind it, whoever sends them.
  ASSERT_TRUE(a->send("*", R"({"typeId":"63","n":1})"));
  ASSERT_TRUE(b->send("*", R"({"typeId":"63","n":2})"));
  // Another channel does not wait for this one.
  ASSERT_TRUE(elsewhere->send("*", R"({"typeId":"63","n":3})"));
  EXPECT_EQ(next_text(*elsewhere), R"({"typeId":"63","n":3})");

  service.release();
  // The two connections' sends may be read in either order, but none overtakes the chat.
  for (RawClient* c : {a.get(), b.get()}) {
    EXPECT_EQ(next_text(*c), chat);
    std::set<std::string> after{next_text(*c), next_text(*c)};
    EXPECT_EQ(after,
              (std::set<std::string>{R"({"typeId":"63","n":1})", R"({"typeId":"63","n":2})"}));
  }
}

TEST(ChatForwardTest, ChatTheServiceRefusesReachesNobody) {
  FakeService service;
  auto server = start_server(service.url());
  auto teacher = join(*server, 1, 300);
  auto muted = join(*server, 8, 300);
  service.refuse_user(8);

  ASSERT_TRUE(muted->send("*", R"({"typeId":"0","content":"muted"})"));
  ASSERT_TRUE(muted->send("*", R"({"typeId":"30","content":"1"})"));  // not chat: relayed
  EXPECT_EQ(next_text(*teacher), R"({"typeId":"30","content":"1"})");
  EXPECT_EQ(next_text(*muted), R"({"typeId":"30","content":"1"})");
  EXPECT_EQ(server->stats().chat_refused, 1u);
  EXPECT_EQ(server->stats().connections, 2u);  // no connection is closed for it

  send_and_echo(*teacher, R"({"typeId":"0","content":"ok"})");
  EXPECT_EQ(next_text(*muted), R"({"typeId":"0","content":"ok"})");
}

TEST(ChatForwardTest, WithTheServiceDownChatStopsAndTheRestGoesOn) {
  std::string dead_url;
  {
    FakeService gone;  // a port that was just free
    dead_url = gone.url();
  }
  auto server = start_server(dead_url);
  auto a = join(*server, 1, 40);
  auto b = join(*server, 2, 40);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(a->send("2", R"({"typeId":"0","content":"hi"})"));
    ASSERT_TRUE(a->send("2", R"({"typeId":"61","n":)" + std::to_string(i) + "}"));
    EXPECT_EQ(next_text(*b), R"({"typeId":"61","n":)" + std::to_string(i) + "}");
  }
  EXPECT_EQ(server->stats().chat_failed, 3u);
  EXPECT_EQ(server->stats().chat_forwarded, 0u);
}

TEST(ChatForwardTest, SendsHeldBehindAChatAreBounded) {
  FakeService service;
  auto server = start_server(service.url(), 2);
  auto a = join(*server, 1, 50);
  service.hold();
  ASSERT_TRUE(a->send("*", R"({"typeId":"0","content":"held"})"));
  ASSERT_TRUE(service.wait_entered(1));
  ASSERT_TRUE(a->send("*", R"({"n":1})"));
  ASSERT_TRUE(a->send("*", R"({"n":2})"));  // a third held send: refused
  ASSERT_TRUE(eventually([&] { return server->stats().sends_refused == 1; }));
  service.release();
  EXPECT_EQ(next_text(*a), R"({"typeId":"0","content":"held"})");
  EXPECT_EQ(next_text(*a), R"({"n":1})");
  send_and_echo(*a, R"({"n":3})");
}

TEST(ChatForwarderTest, QueueIsBoundedAndEveryRecordGetsItsVerdict) {
  FakeService service("other-token");
  msgserver::ChatForwarder forwarder(*msgserver::parse_service_url(service.url()),
                                     testsupport::kTestSecret, 2);
  forwarder.start();
  service.hold();
  std::atomic<int> verdicts{0};
  std::atomic<int> accepted{0};
  auto record = [&](std::uint32_t user) {
    msgserver::ChatRecord r;
    r.room_id = 1;
    r.user_id = user;
    r.type_id = "0";
    r.text = R"({"typeId":"0"})";
    r.done = [&](bool ok, std::string) {
      accepted += ok;
      ++verdicts;
    };
    return r;
  };
  ASSERT_TRUE(forwarder.submit(record(1)));
  ASSERT_TRUE(service.wait_entered(1));  // the first one is in flight, the queue is empty
  EXPECT_TRUE(forwarder.submit(record(2)));
  EXPECT_TRUE(forwarder.submit(record(3)));
  EXPECT_FALSE(forwarder.submit(record(4)));
  service.release();
  ASSERT_TRUE(service.wait_posts(3));
  forwarder.stop();
  EXPECT_EQ(forwarder.dropped(), 1u);
  EXPECT_EQ(forwarder.refused(), 3u);  // the service refused the token
  EXPECT_EQ(verdicts.load(), 3);       // a record submit() refused has none
  EXPECT_EQ(accepted.load(), 0);
  EXPECT_EQ(service.posts().size(), 3u);
}

TEST(ChatForwarderTest, ChatTypesAreReadAsReceiversReadThemAndUrlsParse) {
  using msgserver::inspect_text;
  EXPECT_EQ(inspect_text(R"({"typeId":"20"})", 1).chat_type, "20");
  EXPECT_EQ(inspect_text(R"({"typeId":"0000000010"})", 1).chat_type, "10");
  for (const char* other :
       {R"({"typeId":"50"})", R"({"typeId":"00000000000"})", R"({"typeId":" 0"})",
        R"({"typeId":"+0"})", R"({"typeId":0})", R"({"x":{"typeId":"0"}})"}) {
    const auto facts = inspect_text(other, 1);
    EXPECT_TRUE(facts.object) << other;
    EXPECT_FALSE(facts.chat_type) << other;
  }
  EXPECT_FALSE(inspect_text(R"({"typeId":"0")", 1).object);   // cut short
  EXPECT_FALSE(inspect_text(R"({"a":"\ud800"})", 1).object);  // what this parser cannot read
  EXPECT_TRUE(inspect_text(R"({"sendUserId":2.5})", 2).foreign_sender);
  EXPECT_FALSE(inspect_text(R"({"sendUserId":4294967295})", 4294967295u).foreign_sender);

  const auto url = msgserver::parse_service_url("http://127.0.0.1:27800/base/");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->scheme_host_port, "http://127.0.0.1:27800");
  EXPECT_EQ(url->path_prefix, "/base");
  EXPECT_FALSE(msgserver::parse_service_url("127.0.0.1:27800"));
  EXPECT_FALSE(msgserver::parse_service_url("ftp://host"));
  EXPECT_FALSE(msgserver::parse_service_url("http://"));
}

}  // namespace

// Chat messages reach the service's chat history; nothing else does, and the
// relay never waits for it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "chat_forwarder.h"
#include "eventually.h"
#include "fake_service.h"
#include "msgserver/server.h"
#include "raw_client.h"

namespace {

using msgtest::FakeService;
using msgtest::RawClient;

// The server exposes what it forwarded only as counters: they are polled.
using testsupport::eventually;

std::unique_ptr<msgserver::Server> start_server(const std::string& url) {
  msgserver::Config config;
  config.listen_port = 0;
  config.service_url = url;
  config.internal_token = "T";
  auto server = std::make_unique<msgserver::Server>(config);
  EXPECT_NE(server->start(), 0) << server->error();
  return server;
}

// Sends and waits for the echo, so the server has handled it before anything later.
void send_and_echo(RawClient& client, const std::string& text) {
  ASSERT_TRUE(client.send("*", text));
  std::string storage;
  const auto d = client.next_deliver(storage);
  ASSERT_TRUE(d);
  ASSERT_EQ(d->text, text);
}

TEST(ChatForwardTest, ForwardsChatMessagesOfRoomChannelsOnly) {
  FakeService service;
  auto server = start_server(service.url());

  RawClient login(server->port());
  ASSERT_TRUE(login.hello(5, msgserver::kOneLoginChannel));
  send_and_echo(login, R"({"typeId":"0","content":"one-login channel"})");

  RawClient room(server->port());
  ASSERT_TRUE(room.hello(5, 300));
  send_and_echo(room, "not json");
  send_and_echo(room, R"({"typeId":"30","content":"1"})");
  send_and_echo(room, R"({"typeId":0,"content":"number"})");
  send_and_echo(room, R"(["typeId","0"])");
  // The sender fields inside are the sender's; the record names the connection's user.
  const std::string text = R"({"typeId":"0","sendUserId":999,"content":"你好 & a=b %20+"})";
  send_and_echo(room, text);
  send_and_echo(room, R"({"typeId":"10","content":"p.png"})");
  send_and_echo(room, R"({"typeId":"20","content":"v.amr","voiceSeconds":3})");

  ASSERT_TRUE(service.wait_posts(3));
  const auto posts = service.posts();
  ASSERT_EQ(posts.size(), 3u);  // anything skipped would have arrived first
  EXPECT_EQ(posts[0].form.at("chatRoomId"), "300");
  EXPECT_EQ(posts[0].form.at("userId"), "5");
  EXPECT_EQ(posts[0].form.at("typeId"), "0");
  EXPECT_EQ(posts[0].form.at("content"), text);
  EXPECT_EQ(posts[0].token, "T");
  EXPECT_EQ(posts[0].content_type, "application/x-www-form-urlencoded");
  EXPECT_EQ(posts[1].form.at("typeId"), "10");
  EXPECT_EQ(posts[2].form.at("typeId"), "20");
  EXPECT_TRUE(eventually([&] { return server->stats().chat_forwarded == 3; }));
}

TEST(ChatForwardTest, RelayGoesOnWhileTheServiceIsDown) {
  std::string dead_url;
  {
    FakeService gone;  // a port that was just free
    dead_url = gone.url();
  }
  auto server = start_server(dead_url);
  RawClient a(server->port());
  RawClient b(server->port());
  ASSERT_TRUE(a.hello(1, 40));
  ASSERT_TRUE(b.hello(2, 40));
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(a.send("2", R"({"typeId":"0","content":"hi"})"));
    std::string storage;
    ASSERT_TRUE(b.next_deliver(storage));
  }
  EXPECT_TRUE(eventually([&] { return server->stats().chat_failed == 3; }));
  EXPECT_EQ(server->stats().chat_forwarded, 0u);
}

TEST(ChatForwarderTest, QueueIsBoundedAndRefusalsAreCounted) {
  FakeService service("other-token");
  msgserver::ChatForwarder forwarder(*msgserver::parse_service_url(service.url()), "T", 2);
  forwarder.start();
  service.hold();
  const std::string chat = R"({"typeId":"0"})";
  ASSERT_TRUE(forwarder.submit({1, 1, chat}));
  ASSERT_TRUE(service.wait_entered(1));  // the first one is in flight, the queue is empty
  EXPECT_TRUE(forwarder.submit({1, 2, chat}));
  EXPECT_TRUE(forwarder.submit({1, 3, chat}));
  EXPECT_FALSE(forwarder.submit({1, 4, chat}));
  service.release();
  ASSERT_TRUE(service.wait_posts(3));
  forwarder.stop();
  EXPECT_EQ(forwarder.dropped(), 1u);
  EXPECT_EQ(forwarder.failed(), 3u);  // the service refused the token
  EXPECT_EQ(service.posts().size(), 3u);
}

TEST(ChatForwarderTest, RecognisesChatTypesAndServiceUrls) {
  EXPECT_EQ(msgserver::chat_type_of(R"({"typeId":"20"})"), "20");
  EXPECT_FALSE(msgserver::chat_type_of(R"({"typeId":"50"})"));
  EXPECT_FALSE(msgserver::chat_type_of(R"({"typeId":"0")"));  // cut short
  EXPECT_FALSE(msgserver::chat_type_of(""));

  const auto url = msgserver::parse_service_url("http://127.0.0.1:27800/base/");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->scheme_host_port, "http://127.0.0.1:27800");
  EXPECT_EQ(url->path_prefix, "/base");
  EXPECT_FALSE(msgserver::parse_service_url("127.0.0.1:27800"));
  EXPECT_FALSE(msgserver::parse_service_url("ftp://host"));
  EXPECT_FALSE(msgserver::parse_service_url("http://"));
}

}  // namespace

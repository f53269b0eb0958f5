// The relay on a real loopback port, driven by raw protocol clients.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "msgserver/server.h"
#include "raw_client.h"

namespace {

using msgtest::RawClient;
namespace wire = corda::wire;

class RelayTest : public ::testing::Test {
protected:
  void start(msgserver::Config config = {}) {
    config.listen_port = 0;
    server_ = std::make_unique<msgserver::Server>(config);
    port_ = server_->start();
    ASSERT_NE(port_, 0) << server_->error();
  }
  void SetUp() override { start(); }

  std::unique_ptr<RawClient> join(std::uint32_t user, std::uint32_t channel, int rcvbuf = 0) {
    auto client = std::make_unique<RawClient>(port_, rcvbuf);
    EXPECT_TRUE(client->ok());
    EXPECT_TRUE(client->hello(user, channel));
    return client;
  }

  // The text of the next message the client gets; "" when none comes.
  static std::string next_text(RawClient& client) {
    std::string storage;
    const auto d = client.next_deliver(storage);
    return d ? std::string(d->text) : std::string();
  }

  std::unique_ptr<msgserver::Server> server_;
  std::uint16_t port_ = 0;
};

TEST_F(RelayTest, DeliversByTargetWithinTheChannel) {
  auto a1 = join(1, 500);
  auto a2 = join(1, 500);  // the same user connected twice
  auto b = join(2, 500);
  auto other = join(2, 501);

  // To one user: both of that user's connections, the sender's own included.
  ASSERT_TRUE(b->send("1", "{\"typeId\":\"0\"}"));
  for (RawClient* c : {a1.get(), a2.get()}) {
    std::string storage;
    const auto d = c->next_deliver(storage);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->sender_id, 2u);
    EXPECT_EQ(d->channel_id, 500u);
    EXPECT_EQ(d->target, "1");
    EXPECT_EQ(d->text, "{\"typeId\":\"0\"}");
  }
  ASSERT_TRUE(a1->send("1", "to myself"));
  EXPECT_EQ(next_text(*a1), "to myself");
  EXPECT_EQ(next_text(*a2), "to myself");

  // To everybody: the sender gets it back; text that is not JSON passes untouched.
  const std::string odd = std::string("not json \x01\xff", 12);
  ASSERT_TRUE(a1->send("*", odd));
  for (RawClient* c : {a1.get(), a2.get(), b.get()})
    EXPECT_EQ(next_text(*c), odd);

  // b saw only the broadcast, and user 2 on channel 501 saw nothing: the marker
  // sent afterwards is the first thing to reach it.
  auto marker = join(3, 501);
  ASSERT_TRUE(marker->send("*", "marker"));
  EXPECT_EQ(next_text(*other), "marker");
  ASSERT_TRUE(a2->send("2", "after"));
  EXPECT_EQ(next_text(*b), "after");
}

TEST_F(RelayTest, AnswersPings) {
  auto client = join(1, 7);
  ASSERT_TRUE(client->write(wire::encode_frame(wire::FrameType::ping, "1234")));
  const auto pong = client->next();
  ASSERT_TRUE(pong);
  EXPECT_EQ(pong->type, wire::FrameType::pong);
  EXPECT_EQ(pong->payload, "1234");
}

TEST_F(RelayTest, DropsSilentConnections) {
  server_->stop();
  msgserver::Config config;
  config.idle_timeout = std::chrono::milliseconds(200);
  start(config);

  RawClient silent(port_);
  ASSERT_TRUE(silent.write(wire::encode_hello({wire::kProtocolVersion, 1, 7})));
  EXPECT_TRUE(silent.wait_closed());
  EXPECT_TRUE(silent.saw_close());
  EXPECT_EQ(server_->stats().idle_drops, 1u);
}

struct BadInput {
  const char* name;
  std::string bytes;
  bool hello_first;
};

class RelayBadInputTest : public RelayTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(RelayBadInputTest, ClosesOnlyTheOffender) {
  auto good = join(10, 9);
  auto bad = std::make_unique<RawClient>(port_);
  ASSERT_TRUE(bad->ok());
  if (GetParam().hello_first) {
    ASSERT_TRUE(bad->hello(11, 9));
  }
  bad->write(GetParam().bytes);
  EXPECT_TRUE(bad->wait_closed());
  EXPECT_EQ(server_->stats().protocol_errors, 1u);

  ASSERT_TRUE(good->send("*", "still here"));
  EXPECT_EQ(next_text(*good), "still here");
  EXPECT_EQ(server_->stats().connections, 1u);
}

std::string raw_frame(std::uint32_t length, std::uint8_t type, std::string payload = "") {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((length >> shift) & 0xff));
  out.push_back(static_cast<char>(type));
  return out + payload;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelayBadInputTest,
    ::testing::Values(
        BadInput{"Garbage", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", false},
        BadInput{"OversizeLength", raw_frame(wire::kMaxFrameLength + 1, 3), true},
        BadInput{"ZeroLength", raw_frame(0, 3), true},
        BadInput{"UnknownType", raw_frame(3, 42, "ab"), true},
        BadInput{"SendBeforeHello", wire::encode_send("*", "{}"), false},
        BadInput{"RepeatedHello", wire::encode_hello({1, 11, 9}), true},
        BadInput{"ShortHello", raw_frame(5, 1, std::string("\x00\x01\x00\x00", 4)), false},
        BadInput{"UnsupportedVersion", wire::encode_hello({7, 11, 9}), false},
        BadInput{"TargetLengthPastEnd", raw_frame(5, 3, std::string("\x00\x09", 2) + "12"), true},
        BadInput{"BadTarget", wire::encode_send("12a", "{}"), true},
        BadInput{"ServerOnlyFrame", wire::encode_welcome({1, 0}), true}),
    [](const ::testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

TEST_F(RelayTest, CutsOffAClientThatStopsReading) {
  server_->stop();
  msgserver::Config config;
  config.max_queue_bytes = 256 * 1024;
  start(config);

  auto sender = join(1, 20);
  auto reader = join(2, 20);
  auto stuck = join(3, 20, 4096);  // never reads from here on

  const std::string text(32 * 1024, 'x');
  const int count = 400;  // far more than the socket buffers and the queue hold
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(sender->send("3", text));
    ASSERT_TRUE(sender->send("2", text));
    ASSERT_EQ(next_text(*reader).size(), text.size()) << "message " << i;
  }

  EXPECT_TRUE(stuck->wait_closed());
  EXPECT_LT(stuck->bytes_read(), count * text.size());
  EXPECT_EQ(server_->stats().slow_consumers, 1u);
  ASSERT_TRUE(sender->send("*", "after"));
  EXPECT_EQ(next_text(*reader), "after");
}

TEST_F(RelayTest, StopClosesConnectionsAndThePortCanBeReused) {
  auto client = join(1, 2);
  const std::uint16_t port = port_;
  server_->stop();
  EXPECT_TRUE(client->wait_closed());
  EXPECT_EQ(server_->port(), 0);

  msgserver::Config config;
  config.listen_port = port;
  msgserver::Server again(config);
  ASSERT_EQ(again.start(), port) << again.error();
  port_ = port;
  auto fresh = join(1, 2);
  ASSERT_TRUE(fresh->send("1", "back"));
  EXPECT_EQ(next_text(*fresh), "back");
}

}  // namespace

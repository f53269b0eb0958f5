// The relay on a real loopback port, driven by raw protocol clients.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "RawClient.h"
#include "eventually.h"
#include "msgserver/Server.h"
#include "tavsrv/Credential.h"

namespace {

using msgtest::RawClient;
using testsupport::eventually;
namespace wire = corda::wire;

class RelayTest : public ::testing::Test {
protected:
  void start(msgserver::Config config = {}) {
    config.listen_port = 0;
    config.internal_token = testsupport::kTestSecret;
    server_ = std::make_unique<msgserver::Server>(config);
    port_ = server_->start();
    ASSERT_NE(port_, 0) << server_->error();
  }
  void SetUp() override { start(); }

  // A student's connection, or one with the given room role.
  std::unique_ptr<RawClient> join(std::uint32_t user, std::uint32_t channel, int rcvbuf = 0) {
    return join_as(user, channel, 2, rcvbuf);
  }
  std::unique_ptr<RawClient> join_as(std::uint32_t user, std::uint32_t channel, int role,
                                     int rcvbuf = 0) {
    auto client = std::make_unique<RawClient>(port_, rcvbuf);
    EXPECT_TRUE(client->ok());
    EXPECT_TRUE(client->hello(user, channel, role));
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
  ASSERT_TRUE(a1->send("1", R"({"m":"to myself"})"));
  EXPECT_EQ(next_text(*a1), R"({"m":"to myself"})");
  EXPECT_EQ(next_text(*a2), R"({"m":"to myself"})");

  // To everybody: the sender gets it back; the text passes byte for byte.
  const std::string odd = "{ \"typeId\" : \"63\",\n\"x\":\"\u00e9 é \\u0000\"}\t";
  ASSERT_TRUE(a1->send("*", odd));
  for (RawClient* c : {a1.get(), a2.get(), b.get()})
    EXPECT_EQ(next_text(*c), odd);

  // b saw only the broadcast, and user 2 on channel 501 saw nothing: the marker
  // sent afterwards is the first thing to reach it.
  auto marker = join(3, 501);
  ASSERT_TRUE(marker->send("*", "{}"));
  EXPECT_EQ(next_text(*other), "{}");
  ASSERT_TRUE(a2->send("2", R"({"m":"after"})"));
  EXPECT_EQ(next_text(*b), R"({"m":"after"})");
}

// Whoever says hello must show a credential the service signed for exactly
// that user and channel, still valid; otherwise it gets the close frame and
// never a message of the channel.
TEST_F(RelayTest, HelloWithoutAValidCredentialIsRefused) {
  auto member = join(10, 700);
  using testsupport::testCredential;
  std::string forged = testCredential(66, 700);
  forged.back() = forged.back() == '0' ? '1' : '0';
  const struct {
    const char* what;
    std::string credential;
  } attempts[] = {
      {"none", ""},
      {"another user's", testCredential(10, 700)},
      {"another channel's", testCredential(66, 701)},
      {"expired", testCredential(66, 700, 2, -1000)},
      {"forged MAC", forged},
      {"signed with another secret",
       tavsrv::signCredential("guess", {66, 700, 2, std::numeric_limits<std::int64_t>::max()})},
      {"not a credential", "1.66.700.2.99999999999999.zz"},
  };
  std::uint64_t refused = 0;
  for (const auto& attempt : attempts) {
    SCOPED_TRACE(attempt.what);
    RawClient attacker(port_);
    ASSERT_TRUE(attacker.ok());
    const auto answer = attacker.hello_with(66, 700, attempt.credential);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->type, wire::FrameType::close);
    const auto close = wire::decode_close(answer->payload);
    ASSERT_TRUE(close);
    EXPECT_EQ(close->code, static_cast<std::uint16_t>(wire::CloseCode::credential_refused));
    EXPECT_FALSE(close->reason.empty());
    EXPECT_TRUE(attacker.wait_closed());
    EXPECT_EQ(server_->stats().hellos_refused, ++refused);
  }
  // Nothing of the attempts reached the member; its own message is the next it gets.
  ASSERT_TRUE(member->send("*", "{}"));
  EXPECT_EQ(next_text(*member), "{}");
  EXPECT_EQ(server_->stats().connections, 1u);
}

// A member of one room cannot listen in on another with its own credential.
TEST_F(RelayTest, ListeningOnAnotherChannelIsRefused) {
  auto teacher = join(1, 800);
  RawClient outsider(port_);
  const auto answer = outsider.hello_with(5, 800, testsupport::testCredential(5, 801));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->type, wire::FrameType::close);
  ASSERT_TRUE(teacher->send("*", R"({"typeId":"0","content":"secret"})"));
  EXPECT_EQ(next_text(*teacher), R"({"typeId":"0","content":"secret"})");
  // Whatever the outsider still reads before the end is no message of the channel.
  while (const auto frame = outsider.next())
    EXPECT_NE(frame->type, wire::FrameType::deliver);
  EXPECT_TRUE(outsider.closed());
}

TEST_F(RelayTest, AServerWithoutSecretRefusesEveryHello) {
  server_->stop();
  msgserver::Config config;
  config.listen_port = 0;
  server_ = std::make_unique<msgserver::Server>(config);
  port_ = server_->start();
  ASSERT_NE(port_, 0);
  RawClient client(port_);
  const auto answer = client.hello_with(1, 2, testsupport::testCredential(1, 2));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->type, wire::FrameType::close);
  EXPECT_EQ(server_->stats().hellos_refused, 1u);
}

// What receivers would misread is not relayed: they act on JSON objects only,
// believe the sendUserId inside and stop at a NUL. Auditors listen but never chat.
TEST_F(RelayTest, RefusesTextsThatLieAboutTheirSenderOrAreNoRoomMessage) {
  auto student = join(2, 900);
  auto auditor = join_as(4, 900, 4);
  auto receiver = join(3, 900);
  const struct {
    RawClient* from;
    std::string text;
  } refused[] = {
      {student.get(), "not json"},
      {student.get(), "[1,2]"},
      {student.get(), R"("text")"},
      {student.get(), R"({"typeId":"0")"},
      {student.get(), std::string("{\"typeId\":\"0\"}\0garbage", 22)},
      {student.get(), R"({"typeId":"0","sendUserId":1,"content":"I am the teacher"})"},
      {student.get(), R"({"typeId":"0","sendUserId":"1"})"},
      {student.get(), R"({"typeId":"50","sendUserId":1.0})"},
      {student.get(), R"({"typeId":"0","sendUserId":null})"},
      {student.get(), R"({"sendUserId":2,"sendUserId":1})"},
      {student.get(), R"({"typeId":"63","typeId":"0"})"},
      {auditor.get(), R"({"typeId":"0","content":"hi"})"},
      {auditor.get(), R"({"typeId":"010","content":"picture"})"},
      {auditor.get(), R"({"type\u0049d":"20","content":"voice"})"},
  };
  std::uint64_t count = 0;
  for (const auto& attempt : refused) {
    SCOPED_TRACE(attempt.text);
    // The marker right after it is what the receiver gets next.
    const std::string marker = R"({"typeId":"63","n":)" + std::to_string(count) + "}";
    ASSERT_TRUE(
        attempt.from->write(wire::encode_send("*", attempt.text) + wire::encode_send("*", marker)));
    EXPECT_EQ(next_text(*receiver), marker);
    EXPECT_EQ(server_->stats().sends_refused, ++count);
  }
  // Own ids pass, as number or digits; an auditor may still send what is not chat.
  for (const std::string text : {R"({"typeId":"0","sendUserId":2,"content":"hi"})",
                                 R"({"typeId":"0","sendUserId":"2","nested":{"sendUserId":1}})"}) {
    ASSERT_TRUE(student->send("*", text));
    EXPECT_EQ(next_text(*receiver), text);
  }
  ASSERT_TRUE(auditor->send("*", R"({"typeId":"30","sendUserId":4,"content":"1"})"));
  EXPECT_EQ(next_text(*receiver), R"({"typeId":"30","sendUserId":4,"content":"1"})");
  EXPECT_EQ(server_->stats().sends_refused, count);
  EXPECT_EQ(server_->stats().connections, 3u);  // refusals close nothing
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
  ASSERT_TRUE(silent.write(
      wire::encode_hello({wire::kProtocolVersion, 1, 7, testsupport::testCredential(1, 7)})));
  EXPECT_TRUE(silent.wait_closed());
  EXPECT_TRUE(silent.saw_close());
  EXPECT_EQ(server_->stats().idle_drops, 1u);
}

// A credential admits until its expiry, not beyond: the connection is closed
// then with the reason (the client renews its credential and comes back).
TEST_F(RelayTest, ConnectionEndsWhenItsCredentialExpires) {
  RawClient member(port_);
  ASSERT_TRUE(member.ok());
  const auto welcome = member.hello_with(5, 700, testsupport::testCredential(5, 700, 2, 2000));
  ASSERT_TRUE(welcome);
  ASSERT_EQ(welcome->type, wire::FrameType::welcome);
  RawClient other(port_);  // one whose credential never expires stays
  const auto welcomed = other.hello_with(
      6, 700,
      tavsrv::signCredential(testsupport::kTestSecret,
                             {6, 700, 2, std::numeric_limits<std::int64_t>::max()}));
  ASSERT_TRUE(welcomed);
  ASSERT_EQ(welcomed->type, wire::FrameType::welcome);
  const auto close = member.next();
  ASSERT_TRUE(close);
  ASSERT_EQ(close->type, wire::FrameType::close);
  const auto reason = wire::decode_close(close->payload);
  ASSERT_TRUE(reason);
  EXPECT_EQ(reason->code, static_cast<std::uint16_t>(wire::CloseCode::credential_refused));
  EXPECT_EQ(reason->reason, "credential expired");
  EXPECT_TRUE(member.wait_closed());
  ASSERT_TRUE(other.send("*", "{}"));
  EXPECT_EQ(next_text(other), "{}");
}

// Connections that have not said hello are few per address and in all, and
// the one waiting longest makes room for a newcomer: one host cannot fill the
// server's places, and members keep theirs when it is full.
TEST_F(RelayTest, ConnectionsWaitingForTheirHelloAreBoundedPerAddressAndInAll) {
  server_->stop();
  msgserver::Config config;
  config.max_connections = 4;
  config.max_pending_per_address = 2;
  config.hello_timeout = std::chrono::minutes(1);
  start(config);

  auto member = join(1, 700);
  RawClient first(port_), second(port_), third(port_);
  EXPECT_TRUE(first.wait_closed());  // the address's oldest waiting one
  EXPECT_TRUE(second.hello(2, 700));
  // Four open (two members, two waiting): a fifth, from elsewhere, closes the oldest waiting.
  RawClient elsewhere(port_, 0, "127.0.0.2");
  RawClient later(port_, 0, "127.0.0.3");
  EXPECT_TRUE(third.wait_closed());
  EXPECT_TRUE(elsewhere.hello(3, 700));
  EXPECT_TRUE(later.hello(4, 700));
  // Four members: a newcomer finds no place.
  RawClient full(port_, 0, "127.0.0.4");
  EXPECT_TRUE(full.wait_closed());
  EXPECT_EQ(server_->stats().refused_connections, 3u);
  ASSERT_TRUE(later.send("*", "{}"));
  EXPECT_EQ(next_text(*member), "{}");
}

TEST_F(RelayTest, AConnectionWithoutHelloInTimeIsClosed) {
  server_->stop();
  msgserver::Config config;
  config.hello_timeout = std::chrono::milliseconds(1000);
  start(config);

  RawClient silent(port_);
  auto member = join(1, 700);
  const auto close = silent.next();
  ASSERT_TRUE(close);
  ASSERT_EQ(close->type, wire::FrameType::close);
  const auto reason = wire::decode_close(close->payload);
  ASSERT_TRUE(reason);
  EXPECT_EQ(reason->reason, "no hello in time");
  EXPECT_EQ(server_->stats().hello_timeouts, 1u);
  ASSERT_TRUE(member->send("*", "{}"));  // one that said hello stays
  EXPECT_EQ(next_text(*member), "{}");
}

// One credential holds a few connections on its channel, the newest ones: the
// oldest gets the close frame (a client's reconnection replaces its old one).
TEST_F(RelayTest, AMemberKeepsItsNewestConnectionsOnAChannel) {
  std::vector<std::unique_ptr<RawClient>> mine;
  for (int i = 0; i < 5; ++i)
    mine.push_back(join(5, 700));
  auto elsewhere = join(5, 701);  // another channel counts apart
  const auto close = mine[0]->next();
  ASSERT_TRUE(close);
  ASSERT_EQ(close->type, wire::FrameType::close);
  const auto reason = wire::decode_close(close->payload);
  ASSERT_TRUE(reason);
  EXPECT_EQ(reason->reason, "replaced by a newer connection of the same member");
  ASSERT_TRUE(mine[4]->send("*", "{}"));
  for (int i = 1; i < 5; ++i)
    EXPECT_EQ(next_text(*mine[i]), "{}");
  EXPECT_EQ(server_->stats().connections, 5u);
}

// The bytes of frames not yet complete are bounded over all connections: the
// connection that would pass the budget is closed, the others complete theirs.
TEST_F(RelayTest, UnfinishedFramesShareABudget) {
  server_->stop();
  msgserver::Config config;
  config.max_partial_bytes = (1u << 20) + (64u << 10);
  start(config);

  auto listener = join(1, 700);
  auto a = join(2, 700);
  auto b = join(3, 700);
  const std::string text = R"({"typeId":"63","x":")" + std::string(700 << 10, 'a') + R"("})";
  const std::string frame = wire::encode_send("*", text);
  ASSERT_TRUE(a->write(frame.substr(0, frame.size() - 1)));
  ASSERT_TRUE(eventually([&] { return server_->stats().partial_bytes == frame.size() - 1; }));
  b->write(frame.substr(0, frame.size() - 1));  // may fail once the server has closed it
  EXPECT_TRUE(b->wait_closed());
  EXPECT_TRUE(b->saw_close());
  EXPECT_EQ(server_->stats().partial_refused, 1u);
  ASSERT_TRUE(a->write(frame.substr(frame.size() - 1)));
  EXPECT_EQ(next_text(*listener), text);
  EXPECT_TRUE(eventually([&] { return server_->stats().partial_bytes == 0; }));
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

  ASSERT_TRUE(good->send("*", "{}"));
  EXPECT_EQ(next_text(*good), "{}");
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
        // Judged by its length alone: nothing of a long frame is kept before hello.
        BadInput{"LongFrameBeforeHello", raw_frame(1000, 1, "\x00\x01"), false},
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

  const std::string text = "{\"x\":\"" + std::string(32 * 1024, 'x') + "\"}";
  const int count = 400;  // far more than the socket buffers and the queue hold
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(sender->send("3", text));
    ASSERT_TRUE(sender->send("2", text));
    ASSERT_EQ(next_text(*reader).size(), text.size()) << "message " << i;
  }

  EXPECT_TRUE(stuck->wait_closed());
  EXPECT_LT(stuck->bytes_read(), count * text.size());
  EXPECT_EQ(server_->stats().slow_consumers, 1u);
  ASSERT_TRUE(sender->send("*", "{}"));
  EXPECT_EQ(next_text(*reader), "{}");
}

TEST_F(RelayTest, StopClosesConnectionsAndThePortCanBeReused) {
  auto client = join(1, 2);
  const std::uint16_t port = port_;
  server_->stop();
  EXPECT_TRUE(client->wait_closed());
  EXPECT_EQ(server_->port(), 0);

  msgserver::Config config;
  config.listen_port = port;
  config.internal_token = testsupport::kTestSecret;
  msgserver::Server again(config);
  ASSERT_EQ(again.start(), port) << again.error();
  port_ = port;
  auto fresh = join(1, 2);
  ASSERT_TRUE(fresh->send("1", "{}"));
  EXPECT_EQ(next_text(*fresh), "{}");
}

}  // namespace

// libcorda against the real message server on loopback, plus scripted servers
// for the answers a real one never gives.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestCredentials.h"
#include "libcorda/velmsgs.h"
#include "msg_wire.h"
#include "msgserver/Server.h"

namespace {

using namespace std::chrono_literals;
namespace wire = corda::wire;

class Recorder : public velmsg::msg_observer {
public:
  void recv_msg(const char* msg) override {
    std::function<void()> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.emplace_back(msg);
      hook = on_message;
    }
    changed_.notify_all();
    if (hook)
      hook();
  }
  void connect2msgs_state(int state) override {
    std::lock_guard<std::mutex> lock(mutex_);
    states_.push_back(state);
    changed_.notify_all();
  }
  void disconnect_from_msgs() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++disconnects_;
    changed_.notify_all();
  }

  // The first connect state; 0 when none came.
  int wait_state() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 20s, [&] { return !states_.empty(); }) ? states_.front() : 0;
  }
  bool wait_messages(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 20s, [&] { return messages_.size() >= n; });
  }
  bool wait_disconnect() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 20s, [&] { return disconnects_ > 0; });
  }
  std::vector<std::string> messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  std::vector<int> states() {
    std::lock_guard<std::mutex> lock(mutex_);
    return states_;
  }
  int disconnects() {
    std::lock_guard<std::mutex> lock(mutex_);
    return disconnects_;
  }

  std::function<void()> on_message;  // set before connecting

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> messages_;
  std::vector<int> states_;
  int disconnects_ = 0;
};

// A client with the credential the service would issue for user and channel.
velmsg::velmsgs* connect(velmsg::msg_observer* observer, unsigned user, unsigned channel,
                         std::uint16_t port) {
  const std::string credential = testsupport::testCredential(user, channel);
  return velmsg::velmsgs::create(observer, user, channel, "127.0.0.1", port, credential.c_str());
}

struct Member {
  Member(std::uint16_t port, unsigned user, unsigned channel)
      : client(connect(&observer, user, channel, port)) {}
  Recorder observer;
  std::unique_ptr<velmsg::velmsgs> client;
};

std::unique_ptr<msgserver::Server> start_server(std::uint16_t port = 0) {
  msgserver::Config config;
  config.listen_port = port;
  config.internal_token = testsupport::kTestSecret;
  auto server = std::make_unique<msgserver::Server>(config);
  EXPECT_NE(server->start(), 0) << server->error();
  return server;
}

using Texts = std::vector<std::string>;

TEST(VelmsgsTest, DeliversToTargetToAllAndToTheSendersOwnConnections) {
  auto server = start_server();
  std::vector<std::unique_ptr<Member>> m;
  // 0,1: user 1 twice; 2: user 2; 3: user 3 — channel 500. 4: user 2, 5: user 4 — channel 501.
  const std::pair<unsigned, unsigned> who[] = {{1, 500}, {1, 500}, {2, 500},
                                               {3, 500}, {2, 501}, {4, 501}};
  for (const auto& w : who)
    m.push_back(std::make_unique<Member>(server->port(), w.first, w.second));
  for (auto& member : m)
    ASSERT_EQ(member->observer.wait_state(), 1);

  ASSERT_EQ(m[2]->client->send(R"({"m":"to 1"})", "1"), 0);
  ASSERT_TRUE(m[0]->observer.wait_messages(1));
  ASSERT_TRUE(m[1]->observer.wait_messages(1));
  ASSERT_EQ(m[0]->client->send(R"({"m":"to all"})", "*"), 0);
  ASSERT_TRUE(m[0]->observer.wait_messages(2));  // back to the sender itself
  ASSERT_EQ(m[1]->client->send(R"({"m":"to 2"})", "2"), 0);
  ASSERT_TRUE(m[2]->observer.wait_messages(2));

  // Markers sent after those show what else each member got, in order.
  ASSERT_EQ(m[5]->client->send(R"({"m":"end 501"})", "*"), 0);
  ASSERT_EQ(m[3]->client->send(R"({"m":"end 500"})", "*"), 0);
  const std::size_t expected[] = {3, 3, 3, 2, 1};
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(m[i]->observer.wait_messages(expected[i])) << "member " << i;

  const std::string to1 = R"({"m":"to 1"})", all = R"({"m":"to all"})", to2 = R"({"m":"to 2"})",
                    end500 = R"({"m":"end 500"})", end501 = R"({"m":"end 501"})";
  EXPECT_EQ(m[0]->observer.messages(), (Texts{to1, all, end500}));
  EXPECT_EQ(m[1]->observer.messages(), (Texts{to1, all, end500}));
  EXPECT_EQ(m[2]->observer.messages(), (Texts{all, to2, end500}));
  EXPECT_EQ(m[3]->observer.messages(), (Texts{all, end500}));
  EXPECT_EQ(m[4]->observer.messages(), (Texts{end501}));  // same user id, other channel
}

TEST(VelmsgsTest, ReportsTheDropRefusesSendsAndReconnectsByRecreation) {
  auto server = start_server();
  const std::uint16_t port = server->port();
  Recorder observer;
  std::unique_ptr<velmsg::velmsgs> client(connect(&observer, 7, 100000, port));
  ASSERT_EQ(observer.wait_state(), 1);

  server->stop();
  ASSERT_TRUE(observer.wait_disconnect());
  EXPECT_EQ(client->send("{}", "7"), velmsg::send_not_connected);

  server = start_server(port);
  client.reset();
  EXPECT_EQ(observer.disconnects(), 1);
  Recorder again;
  std::unique_ptr<velmsg::velmsgs> recreated(connect(&again, 7, 100000, port));
  ASSERT_EQ(again.wait_state(), 1);
  ASSERT_EQ(recreated->send(R"({"typeId":"1"})", "7"), 0);
  ASSERT_TRUE(again.wait_messages(1));
  EXPECT_EQ(again.messages().front(), R"({"typeId":"1"})");
}

TEST(VelmsgsTest, TheServerRefusesAHelloWithoutAValidCredential) {
  auto server = start_server();
  Member member(server->port(), 5, 600);
  ASSERT_EQ(member.observer.wait_state(), 1);
  const std::string others = testsupport::testCredential(6, 600);
  const std::string expired = testsupport::testCredential(5, 600, 0, -1000);
  for (const char* credential :
       {static_cast<const char*>(nullptr), others.c_str(), expired.c_str()}) {
    Recorder observer;
    std::unique_ptr<velmsg::velmsgs> client(
        velmsg::velmsgs::create(&observer, 5, 600, "127.0.0.1", server->port(), credential));
    EXPECT_EQ(observer.wait_state(), velmsg::connect_failed_rejected);
  }
  // The old create sends none.
  Recorder old;
  std::unique_ptr<velmsg::velmsgs> client(
      velmsg::velmsgs::create(&old, 5, 600, "127.0.0.1", server->port()));
  EXPECT_EQ(old.wait_state(), velmsg::connect_failed_rejected);
  EXPECT_EQ(server->stats().hellos_refused, 4u);
}

TEST(VelmsgsTest, FailedConnectIsReportedOnceWithoutADisconnect) {
  std::uint16_t free_port = 0;
  {
    auto server = start_server();
    free_port = server->port();
  }
  Recorder observer;
  std::unique_ptr<velmsg::velmsgs> client(
      velmsg::velmsgs::create(&observer, 1, 2, "127.0.0.1", free_port));
  EXPECT_EQ(observer.wait_state(), velmsg::connect_failed_refused);
  EXPECT_EQ(client->send("{}", "*"), velmsg::send_not_connected);
  client.reset();
  EXPECT_EQ(observer.states().size(), 1u);
  EXPECT_EQ(observer.disconnects(), 0);

  Recorder no_host;
  std::unique_ptr<velmsg::velmsgs> nameless(
      velmsg::velmsgs::create(&no_host, 1, 2, nullptr, free_port));
  EXPECT_EQ(no_host.wait_state(), velmsg::connect_failed_resolve);
  EXPECT_EQ(velmsg::velmsgs::create(nullptr, 1, 2, "127.0.0.1", free_port), nullptr);
}

TEST(VelmsgsTest, RefusesBadSendsAndCarriesTheLargestText) {
  auto server = start_server();
  Member me(server->port(), 9, 33);
  ASSERT_EQ(me.observer.wait_state(), 1);
  EXPECT_EQ(me.client->send(nullptr, "*"), velmsg::send_bad_argument);
  EXPECT_EQ(me.client->send("{}", nullptr), velmsg::send_bad_argument);
  EXPECT_EQ(me.client->send("{}", "nine"), velmsg::send_bad_argument);
  const std::string too_long(wire::kMaxTextLength + 1, 'x');
  EXPECT_EQ(me.client->send(too_long.c_str(), "*"), velmsg::send_too_large);

  std::string longest = "{\"y\":\"" + std::string(wire::kMaxTextLength - 8, 'y') + "\"}";
  ASSERT_EQ(longest.size(), wire::kMaxTextLength);
  ASSERT_EQ(me.client->send(longest.c_str(), "9"), 0);
  ASSERT_TRUE(me.observer.wait_messages(1));
  EXPECT_EQ(me.observer.messages().front(), longest);
}

TEST(VelmsgsTest, CanBeDestroyedFromItsOwnCallback) {
  auto server = start_server();
  Member me(server->port(), 3, 4);
  Member other(server->port(), 5, 4);
  std::mutex mutex;
  std::condition_variable done;
  bool destroyed = false;
  me.observer.on_message = [&] {
    me.client.reset();  // on the client's own thread
    std::lock_guard<std::mutex> lock(mutex);
    destroyed = true;
    done.notify_all();
  };
  ASSERT_EQ(me.observer.wait_state(), 1);
  ASSERT_EQ(other.observer.wait_state(), 1);
  ASSERT_EQ(other.client->send(R"({"m":"a"})", "*"), 0);
  ASSERT_EQ(other.client->send(R"({"m":"b"})", "*"), 0);
  ASSERT_TRUE(other.observer.wait_messages(2));
  std::unique_lock<std::mutex> lock(mutex);
  ASSERT_TRUE(done.wait_for(lock, 20s, [&] { return destroyed; }));
  EXPECT_EQ(me.observer.messages(), Texts{R"({"m":"a"})"});
  EXPECT_EQ(me.observer.disconnects(), 0);
}

// A listening socket whose one connection the test scripts by hand.
class ScriptedServer {
public:
  ScriptedServer() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listen_fd_, 4);
    socklen_t len = sizeof addr;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~ScriptedServer() {
    if (fd_ >= 0)
      ::close(fd_);
    ::close(listen_fd_);
  }
  std::uint16_t port() const { return port_; }

  // Accepts the client and reads its hello frame; false unless it is one.
  bool accept_hello() {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 20000) != 1)
      return false;
    fd_ = ::accept(listen_fd_, nullptr, nullptr);
    std::vector<wire::Frame> frames;
    char buf[512];
    while (frames.empty()) {
      pollfd q{fd_, POLLIN, 0};
      if (::poll(&q, 1, 20000) != 1)
        return false;
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0)
        return false;
      hello_bytes_.append(buf, static_cast<std::size_t>(n));
      if (wire::decode_frames(hello_bytes_, frames).status != wire::DecodeStatus::ok)
        return false;
    }
    hello_payload_ = std::string(frames[0].payload);
    return frames.size() == 1 && frames[0].type == wire::FrameType::hello &&
           wire::decode_hello(hello_payload_).has_value();
  }
  // The credential of the hello taken by accept_hello.
  std::string hello_credential() const {
    const auto hello = wire::decode_hello(hello_payload_);
    return hello ? std::string(hello->credential) : std::string();
  }
  void write(const std::string& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

private:
  int listen_fd_ = -1;
  int fd_ = -1;
  std::string hello_bytes_;
  std::string hello_payload_;
  std::uint16_t port_ = 0;
};

TEST(VelmsgsTest, TellsRefusalGarbageAndSilenceApart) {
  struct Case {
    std::string answer;
    int expected_state;
  };
  const Case cases[] = {
      {wire::encode_close(wire::CloseCode::unsupported_version, "no"),
       velmsg::connect_failed_rejected},
      {std::string("\xff\xff\xff\xff\x01", 5), velmsg::connect_failed_protocol},
      {wire::encode_welcome({2, 0}), velmsg::connect_failed_rejected},
  };
  for (const Case& c : cases) {
    ScriptedServer server;
    Recorder observer;
    std::unique_ptr<velmsg::velmsgs> client(
        velmsg::velmsgs::create(&observer, 1, 2, "127.0.0.1", server.port()));
    ASSERT_TRUE(server.accept_hello());
    server.write(c.answer);
    EXPECT_EQ(observer.wait_state(), c.expected_state);
  }

  // A server that welcomes and then never answers a ping is given up on.
  ScriptedServer silent;
  Recorder observer;
  std::unique_ptr<velmsg::velmsgs> client(
      velmsg::velmsgs::create(&observer, 1, 2, "127.0.0.1", silent.port()));
  ASSERT_TRUE(silent.accept_hello());
  silent.write(wire::encode_welcome({wire::kProtocolVersion, 150}));
  ASSERT_EQ(observer.wait_state(), 1);
  EXPECT_TRUE(observer.wait_disconnect());
}

TEST(VelmsgsTest, TheHelloCarriesTheCredentialGivenToCreate) {
  const std::string credential = "1.1.2.2.1893456000000." + std::string(64, 'f');
  {
    ScriptedServer server;
    Recorder observer;
    std::unique_ptr<velmsg::velmsgs> client(
        velmsg::velmsgs::create(&observer, 1, 2, "127.0.0.1", server.port(), credential.c_str()));
    ASSERT_TRUE(server.accept_hello());
    EXPECT_EQ(server.hello_credential(), credential);
    server.write(wire::encode_close(wire::CloseCode::credential_refused, "no"));
    EXPECT_EQ(observer.wait_state(), velmsg::connect_failed_rejected);
  }
  // The old create sends none.
  ScriptedServer server;
  Recorder observer;
  std::unique_ptr<velmsg::velmsgs> client(
      velmsg::velmsgs::create(&observer, 1, 2, "127.0.0.1", server.port()));
  ASSERT_TRUE(server.accept_hello());
  EXPECT_EQ(server.hello_credential(), "");

  // A text no hello can carry is refused before any connection is made.
  for (const std::string& bad : {std::string("line\nbreak"), std::string(256, 'x')}) {
    Recorder refused;
    std::unique_ptr<velmsg::velmsgs> unusable(
        velmsg::velmsgs::create(&refused, 1, 2, "127.0.0.1", server.port(), bad.c_str()));
    EXPECT_EQ(refused.wait_state(), velmsg::connect_failed_rejected);
  }
}

TEST(VelmsgsTest, DestroyWhileConnectingReportsNothing) {
  ScriptedServer server;  // accepts, never welcomes
  Recorder observer;
  std::unique_ptr<velmsg::velmsgs> client(
      velmsg::velmsgs::create(&observer, 1, 2, "127.0.0.1", server.port()));
  ASSERT_TRUE(server.accept_hello());
  client.reset();
  EXPECT_TRUE(observer.states().empty());
  EXPECT_EQ(observer.disconnects(), 0);
}

}  // namespace

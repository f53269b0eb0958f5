// Two tav-msgserver nodes as processes of their own on a nats-server of the
// test's, handed out by the real service: one node is killed while members on
// both send; its members come back on the other node through the service, and
// the members on the other node lose nothing that a sender had seen come back.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ChildNats.h"
#include "RawClient.h"
#include "ServiceHarness.h"
#include "eventually.h"

namespace {

using msgtest::RawClient;
using testsupport::eventually;
namespace wire = corda::wire;

constexpr std::uint32_t kRoom = 1001;

// tav-msgserver as a child; its port from the line it prints once listening.
class ChildNode {
public:
  explicit ChildNode(const std::string& nats) {
    const std::string program = std::string(std::getenv("TAV_BIN_DIR")) + "/tav-msgserver";
    int out[2];
    if (::pipe(out) != 0)
      return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execl(program.c_str(), "tav-msgserver", "--listen", "127.0.0.1:0", "--internal-token",
              testsupport::kTestSecret, "--nats", nats.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    fd_ = out[0];
    std::string line;
    while (line.find('\n') == std::string::npos) {
      pollfd p{fd_, POLLIN, 0};
      char buffer[256];
      if (::poll(&p, 1, static_cast<int>(testsupport::wait_limit().count())) != 1)
        return;
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0)
        return;
      line.append(buffer, static_cast<std::size_t>(n));
    }
    const auto colon = line.rfind(':');
    if (line.find("listening on") != std::string::npos && colon != std::string::npos)
      port_ = static_cast<std::uint16_t>(std::atoi(line.c_str() + colon + 1));
  }
  ~ChildNode() {
    kill(SIGTERM);
    if (fd_ >= 0)
      ::close(fd_);
  }
  std::uint16_t port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  void kill(int signal) {
    if (pid_ <= 0)
      return;
    ::kill(pid_, signal);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

struct Entry {
  std::string server;
  std::string credential;
};

// A member that keeps a few of its own messages in flight ({"n":N} to everybody, the next
// once an earlier one came back) and records whatever it hears, per sender.
class Member {
public:
  Member(std::uint16_t port, std::uint32_t user, const Entry& entry) : user_(user), client_(port) {
    welcomed_ =
        client_.ok() &&
        client_.hello_with(user, kRoom, entry.credential).value_or(msgtest::OwnedFrame{}).type ==
            wire::FrameType::welcome;
    if (welcomed_)
      thread_ = std::thread([this] { run(); });
  }
  ~Member() {
    stop_ = true;
    if (thread_.joinable())
      thread_.join();
  }
  bool welcomed() const { return welcomed_; }
  bool closed() const { return closed_; }
  void start_sending() { sends_ = true; }
  void stop_sending() { sends_ = false; }
  int sent() const { return sent_; }
  int echoed() const { return echoed_; }
  std::vector<int> heard_from(std::uint32_t sender) {
    std::lock_guard<std::mutex> lock(mutex_);
    return heard_[sender];
  }

private:
  static constexpr int kWindow = 8;
  void run() {
    while (!stop_) {
      while (sends_ && sent_ - echoed_ < kWindow)
        client_.send("*", "{\"n\":" + std::to_string(sent_++) + "}");
      const auto frame = client_.next(std::chrono::milliseconds(100));
      if (client_.closed()) {
        closed_ = true;
        return;
      }
      if (!frame || frame->type != wire::FrameType::deliver)
        continue;
      const auto d = wire::decode_deliver(frame->payload);
      if (!d)
        continue;
      const int n = std::atoi(std::string(d->text.substr(5)).c_str());
      std::lock_guard<std::mutex> lock(mutex_);
      heard_[d->sender_id].push_back(n);
      if (d->sender_id == user_)
        ++echoed_;
    }
  }

  const std::uint32_t user_;
  RawClient client_;
  bool welcomed_ = false;
  std::atomic<bool> sends_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> closed_{false};
  std::atomic<int> sent_{0};
  std::atomic<int> echoed_{0};
  std::mutex mutex_;
  std::map<std::uint32_t, std::vector<int>> heard_;
  std::thread thread_;
};

// 0, 1, 2, ... in order, nothing twice, nothing left out.
testing::AssertionResult counts_up(const std::vector<int>& got, int at_least) {
  for (std::size_t i = 0; i < got.size(); ++i)
    if (got[i] != static_cast<int>(i))
      return testing::AssertionFailure() << "message " << i << " is " << got[i];
  if (static_cast<int>(got.size()) < at_least)
    return testing::AssertionFailure() << got.size() << " messages, " << at_least << " expected";
  return testing::AssertionSuccess();
}

TEST(ClusterFailover, KilledNodesMembersComeBackOnTheOtherAndTheOthersLoseNothing) {
  if (!std::filesystem::exists(TAV_NATS_SERVER))
    GTEST_SKIP() << "no nats-server (scripts/setup installs it)";
  testsupport::ChildNats nats(TAV_NATS_SERVER);
  ASSERT_TRUE(nats.ok());
  ChildNode one(nats.url()), two(nats.url());
  ASSERT_TRUE(one.port() && two.port());
  tavtest::ServiceHarness service(true, [&](tavsvc::ServiceConfig& c) {
    c.internalToken = testsupport::kTestSecret;
    c.msgServers = {{"127.0.0.1", one.port()}, {"127.0.0.1", two.port()}};
    c.msgServer = c.msgServers.front();
  });
  struct Who {
    std::uint32_t id;
    const char* name;
    std::string ticket;
  } who[] = {{10003, "student1", {}},
             {10004, "student2", {}},
             {10001, "teacher", {}},
             {10005, "student3", {}}};
  for (Who& w : who)
    w.ticket = service.login(w.name).ticket;
  auto enter = [&](const Who& w) {
    const auto answer = service.post("rms/service/room/userJoinRoom",
                                     "roomId=1001&globalId=" + std::to_string(w.id), w.ticket);
    return Entry{answer.value("chat_server", ""), answer.value("room_credential", "")};
  };

  // The room's members are handed one node; two more are on the other one already.
  const Entry first = enter(who[0]);
  ChildNode& doomed = first.server == one.address() ? one : two;
  ChildNode& survivor = &doomed == &one ? two : one;
  ASSERT_EQ(first.server, doomed.address());
  // A node takes members once it has NATS.
  ASSERT_TRUE(eventually([&] { return Member(survivor.port(), 10001, enter(who[2])).welcomed(); }));
  ASSERT_TRUE(eventually([&] { return Member(doomed.port(), 10003, first).welcomed(); }));
  auto sender_gone = std::make_unique<Member>(doomed.port(), 10003, first);
  auto listener_gone = std::make_unique<Member>(doomed.port(), 10004, enter(who[1]));
  Member sender_stays(survivor.port(), 10001, enter(who[2]));
  Member listener_stays(survivor.port(), 10005, enter(who[3]));
  ASSERT_TRUE(sender_gone->welcomed() && listener_gone->welcomed() && sender_stays.welcomed() &&
              listener_stays.welcomed());
  sender_gone->start_sending();
  sender_stays.start_sending();

  ASSERT_TRUE(
      eventually([&] { return sender_gone->echoed() >= 200 && sender_stays.echoed() >= 200; }));
  const auto killed_at = std::chrono::steady_clock::now();
  doomed.kill(SIGKILL);
  ASSERT_TRUE(eventually([&] { return sender_gone->closed() && listener_gone->closed(); }));
  const int acknowledged = sender_gone->echoed();

  // Back through the service: it hands out the live node once it has seen the other die.
  std::unique_ptr<Member> back_sender, back_listener;
  ASSERT_TRUE(eventually([&] {
    const Entry again = enter(who[0]);
    if (again.server != survivor.address())
      return false;
    back_sender = std::make_unique<Member>(survivor.port(), 10003, again);
    back_listener = std::make_unique<Member>(survivor.port(), 10004, enter(who[1]));
    return back_sender->welcomed() && back_listener->welcomed();
  }));
  const auto back_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - killed_at)
                           .count();
  std::printf("the killed node's members were back on the other node %lld ms after the kill\n",
              static_cast<long long>(back_ms));
  RecordProperty("back_ms", std::to_string(back_ms));
  ASSERT_TRUE(eventually([&] { return back_listener->heard_from(10001).size() >= 50; }));

  sender_stays.stop_sending();
  ASSERT_TRUE(eventually([&] { return sender_stays.echoed() == sender_stays.sent(); }));
  ASSERT_TRUE(eventually([&] {
    return static_cast<int>(listener_stays.heard_from(10001).size()) == sender_stays.sent();
  }));
  // What stayed heard every message of its node's sender, across the kill, in order; and every
  // message the killed node's sender had seen come back (and perhaps a few more that NATS had
  // taken when the node died).
  EXPECT_TRUE(counts_up(listener_stays.heard_from(10001), sender_stays.sent()));
  for (Member* stayed : {&listener_stays, &sender_stays})
    EXPECT_TRUE(counts_up(stayed->heard_from(10003), acknowledged));
}

}  // namespace

// How the service hands out message-server nodes: a node that takes a
// connection and keeps it is live; one that takes none (dead), or closes it at
// once (a node without NATS), is not; a key keeps its node while that lives,
// and only the keys of a node that goes move.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <thread>

#include "MsgServerChoice.h"
#include "eventually.h"

namespace {

using tavsvc::MsgServerChoice;
using testsupport::eventually;

// A loopback listener; closing: every connection is closed as soon as taken.
class Listener {
public:
  explicit Listener(bool closing) : closing_(closing) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), length) != 0 || ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
      return;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0)
          return;
        if (closing_)
          ::close(c);
        else
          kept_.push_back(c);
      }
    });
  }
  ~Listener() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    if (thread_.joinable())
      thread_.join();
    for (int c : kept_)
      ::close(c);
  }
  tavsrv::HostPort address() const { return {"127.0.0.1", port_}; }

private:
  const bool closing_;
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> kept_;
  std::thread thread_;
};

TEST(MsgServerChoice, HandsOutLiveNodesAndMovesOnlyTheKeysOfANodeThatGoes) {
  Listener a(false), b(false), c(false), without_nats(true);
  tavsrv::HostPort dead;
  {
    Listener gone(false);
    dead = gone.address();
  }
  EXPECT_TRUE(tavsvc::msgServerLive(a.address()));
  EXPECT_FALSE(tavsvc::msgServerLive(without_nats.address()));
  EXPECT_FALSE(tavsvc::msgServerLive(dead));

  std::map<std::uint32_t, int> before;
  {
    MsgServerChoice three({a.address(), b.address(), c.address()});
    std::map<int, int> per_node;
    for (std::uint32_t room = 1000; room < 1300; ++room) {
      const auto node = three.pick(room);
      before[room] = node.port;
      ++per_node[node.port];
      EXPECT_EQ(three.pick(room), node);  // the same every time
    }
    ASSERT_EQ(per_node.size(), 3u);
    for (const auto& n : per_node)
      EXPECT_GT(n.second, 50) << "node " << n.first << " gets too few of 300 rooms";
  }
  // The same nodes with c replaced by one that does not take members: c's rooms move, the
  // others' stay where they were.
  MsgServerChoice later({a.address(), b.address(), without_nats.address()});
  ASSERT_TRUE(eventually([&] { return later.live() == std::vector<bool>{true, true, false}; }));
  for (const auto& [room, port] : before) {
    const auto node = later.pick(room);
    EXPECT_NE(node.port, without_nats.address().port);
    if (port != c.address().port) {
      EXPECT_EQ(node.port, port) << "room " << room << " moved";
    }
  }
  // None live: still an address (the client tries it again).
  MsgServerChoice none({dead, without_nats.address()});
  ASSERT_TRUE(eventually([&] { return none.live() == std::vector<bool>{false, false}; }));
  const auto fallback = none.pick(1001);
  EXPECT_TRUE(fallback == dead || fallback == without_nats.address());
}

}  // namespace

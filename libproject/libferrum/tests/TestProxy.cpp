#include "TestProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>

#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>

namespace ferrumtest {

TestProxy::TestProxy(unsigned short target, Fault fault, Direction direction, uint64_t afterBytes,
                     int faultyConnections)
    : target_(target),
      fault_(fault),
      direction_(direction),
      afterBytes_(afterBytes),
      faultyConnections_(faultyConnections) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
    return;
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { acceptLoop(); });
}

TestProxy::~TestProxy() {
  stop_ = true;
  if (acceptor_.joinable())
    acceptor_.join();
  ::close(listener_);
  std::vector<std::thread> relays;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    relays.swap(relays_);
  }
  for (auto& t : relays)
    t.join();
}

std::vector<std::string> TestProxy::heads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return heads_;
}

void TestProxy::acceptLoop() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0)
      continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
      continue;
    const bool faulty = faultyConnections_ < 0 || accepted_ < faultyConnections_;
    ++accepted_;
    std::lock_guard<std::mutex> lock(mutex_);
    heads_.emplace_back();
    relays_.emplace_back([this, client, faulty] { relay(client, faulty); });
  }
}

void TestProxy::relay(int client, bool faulty) {
  size_t index;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    index = heads_.size() - 1;
  }
  const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(target_);
  if (::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(server);
    ::close(client);
    return;
  }
  uint64_t moved[2] = {0, 0};  // to the server, to the client
  const int faultSide = direction_ == Direction::ToServer ? 0 : 1;
  bool headDone = false;
  bool stalled = false;
  char buffer[64 * 1024];
  while (!stop_) {
    pollfd p[2] = {{client, static_cast<short>(stalled && faultSide == 0 ? 0 : POLLIN), 0},
                   {server, static_cast<short>(stalled && faultSide == 1 ? 0 : POLLIN), 0}};
    if (::poll(p, 2, 20) <= 0)
      continue;
    bool closed = false;
    for (int side = 0; side < 2 && !closed; ++side) {
      if (!(p[side].revents & (POLLIN | POLLHUP | POLLERR)))
        continue;
      if (stalled && side == faultSide) {
        if (p[side].revents & (POLLHUP | POLLERR))
          closed = true;  // the far end gave up meanwhile
        continue;
      }
      // side 0 reads the client and writes the server: direction 0.
      const int from = side == 0 ? client : server, to = side == 0 ? server : client;
      size_t want = sizeof buffer;
      if (faulty && fault_ != Fault::None && side == faultSide)
        want = static_cast<size_t>(std::min<uint64_t>(want, afterBytes_ - moved[side]));
      const ssize_t n = want == 0 ? 0 : ::recv(from, buffer, want, 0);
      if (n <= 0 && want != 0) {
        closed = true;
        break;
      }
      if (side == 0 && !headDone) {
        std::lock_guard<std::mutex> lock(mutex_);
        heads_[index].append(buffer, static_cast<size_t>(n));
        const size_t end = heads_[index].find("\r\n\r\n");
        if (end != std::string::npos) {
          heads_[index].resize(end);
          headDone = true;
        }
      }
      size_t sent = 0;
      while (sent < static_cast<size_t>(n)) {
        const ssize_t w = ::send(to, buffer + sent, static_cast<size_t>(n) - sent, MSG_NOSIGNAL);
        if (w <= 0) {
          closed = true;
          break;
        }
        sent += static_cast<size_t>(w);
      }
      moved[side] += static_cast<uint64_t>(n);
      if (faulty && fault_ != Fault::None && side == faultSide && moved[side] >= afterBytes_) {
        if (fault_ == Fault::Cut) {
          ++faults_;
          closed = true;
        } else if (!stalled) {
          ++faults_;
          stalled = true;
        }
      }
    }
    if (closed)
      break;
  }
  // A cut resets both sides, as a broken network would.
  linger hard{1, 0};
  ::setsockopt(client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::setsockopt(server, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(server);
  ::close(client);
}

}  // namespace ferrumtest

#include "MsgServerChoice.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "service/Placement.h"
#include "tavsrv/Log.h"

namespace tavsvc {

namespace {

constexpr auto kLookEvery = std::chrono::seconds(1);
constexpr int kConnectLimitMs = 500;
// A node without NATS closes a new connection as soon as it has accepted it;
// one that keeps it this long is taking members.
constexpr int kKeptOpenMs = 150;

}  // namespace

bool msgServerLive(const tavsrv::HostPort& node) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(node.host.c_str(), std::to_string(node.port).c_str(), &hints, &found) != 0)
    return false;
  bool live = false;
  const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    int rc = ::connect(fd, found->ai_addr, found->ai_addrlen);
    pollfd p{fd, POLLOUT, 0};
    if (rc != 0 && errno == EINPROGRESS && ::poll(&p, 1, kConnectLimitMs) == 1) {
      int error = 0;
      socklen_t length = sizeof error;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      rc = error == 0 ? 0 : -1;
    }
    if (rc == 0) {
      p = {fd, POLLIN, 0};
      live = ::poll(&p, 1, kKeptOpenMs) == 0;  // nothing came, not even the end
    }
    ::close(fd);
  }
  ::freeaddrinfo(found);
  return live;
}

MsgServerChoice::MsgServerChoice(std::vector<tavsrv::HostPort> nodes)
    : nodes_(std::move(nodes)), live_(nodes_.size(), true) {
  if (nodes_.size() > 1)
    thread_ = std::thread([this] { run(); });
}

MsgServerChoice::~MsgServerChoice() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable())
    thread_.join();
}

tavsrv::HostPort MsgServerChoice::pick(std::uint32_t key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  // The highest weight among the live nodes (among all when none is).
  std::size_t best = nodes_.size();
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    if (best == nodes_.size() || (live_[i] && !live_[best]) ||
        (live_[i] == live_[best] &&
         rendezvousWeight(key, nodes_[i]) > rendezvousWeight(key, nodes_[best])))
      best = i;
  }
  return nodes_[best];
}

std::vector<bool> MsgServerChoice::live() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_;
}

void MsgServerChoice::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    std::vector<bool> now;
    for (const auto& node : nodes_)
      now.push_back(msgServerLive(node));
    lock.lock();
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
      if (now[i] != live_[i])
        tavsrv::logWarn("message server " + nodes_[i].str() +
                        (now[i] ? " is taking members again" : " is not taking members"));
    }
    live_ = now;
    wake_.wait_for(lock, kLookEvery, [this] { return stopping_; });
  }
}

}  // namespace tavsvc

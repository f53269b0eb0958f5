#include "NodeHealth.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "netra/kcp_segment.h"
#include "tavsrv/Log.h"
#include "tavsrv/Random.h"

namespace tavsvc {

namespace {

// A socket of the given type, non-blocking, connected (or connecting) to node; -1 on failure.
int connectTo(const tavsrv::HostPort& node, int type) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = type;
  addrinfo* found = nullptr;
  if (::getaddrinfo(node.host.c_str(), std::to_string(node.port).c_str(), &hints, &found) != 0)
    return -1;
  int fd = ::socket(found->ai_family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) != 0 && errno != EINPROGRESS) {
    ::close(fd);
    fd = -1;
  }
  ::freeaddrinfo(found);
  return fd;
}

// The MCU's control messages: an 8-byte header in network byte order
// (reserved u16, length u16, type u32); the health question and its answer.
constexpr size_t kControlHeader = 8;
constexpr uint32_t kHealth = 100010, kHealthAck = 100011;

void writeControlHeader(uint8_t* out, uint32_t type) {
  std::memset(out, 0, kControlHeader);
  for (int i = 0; i < 4; ++i)
    out[4 + i] = static_cast<uint8_t>(type >> (24 - 8 * i));
}

// Whether datagram (from the probe's conversation) carries the health answer;
// its data segments are acknowledged, so the MCU closes the session at once.
bool healthAnswered(int fd, uint32_t conv, const uint8_t* datagram, size_t size) {
  const auto info = netra::inspect_datagram(datagram, size);
  if (!info.valid || info.conv != conv)
    return false;
  bool answered = false;
  for (size_t at = 0; at + netra::kcp_overhead <= size;) {
    netra::kcp_segment_header segment;
    netra::decode_segment_header(datagram + at, size - at, &segment);
    const uint8_t* data = datagram + at + netra::kcp_overhead;
    if (segment.cmd == netra::kcp_cmd_push) {
      if (segment.len >= kControlHeader && ((uint32_t{data[4]} << 24) | (uint32_t{data[5]} << 16) |
                                            (uint32_t{data[6]} << 8) | data[7]) == kHealthAck)
        answered = true;
      netra::kcp_segment_header ack;
      ack.conv = conv;
      ack.cmd = netra::kcp_cmd_ack;
      ack.wnd = 128;
      ack.ts = segment.ts;
      ack.sn = segment.sn;
      ack.una = segment.sn + 1;
      uint8_t out[netra::kcp_overhead];
      netra::encode_segment_header(ack, out);
      ::send(fd, out, sizeof out, MSG_NOSIGNAL);
    }
    at += netra::kcp_overhead + segment.len;
  }
  return answered;
}

uint32_t randomConversation() {
  for (;;) {
    const std::string hex = tavsrv::randomHex(4);
    const uint32_t conv = static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
    if (conv != 0)
      return conv;
  }
}

}  // namespace

void NodeHealth::start(const std::vector<std::pair<tavsrv::HostPort, Probe>>& nodes,
                       Options options) {
  stop();
  options_ = options;
  nodes_.clear();
  for (const auto& [address, probe] : nodes)
    nodes_.push_back(Node{address, probe, 0});
  if (nodes_.empty())
    return;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void NodeHealth::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable())
    thread_.join();
}

bool NodeHealth::up(const tavsrv::HostPort& node) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Node& n : nodes_)
    if (n.address == node)
      return n.failures < options_.failuresToDown;
  return true;  // not watched
}

void NodeHealth::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    probeAll();
    lock.lock();
    wake_.wait_for(lock, std::chrono::milliseconds(options_.intervalMs),
                   [this] { return stopping_; });
  }
}

// Every node at once: the probes go out together and the answers are awaited
// together, so a dead node delays nobody else's.
void NodeHealth::probeAll() {
  struct Attempt {
    int fd = -1;
    uint32_t conv = 0;
    bool answered = false;
  };
  std::vector<Attempt> attempts(nodes_.size());
  for (size_t i = 0; i < nodes_.size(); ++i) {
    Attempt& a = attempts[i];
    if (nodes_[i].probe == Probe::Kcp) {
      a.fd = connectTo(nodes_[i].address, SOCK_DGRAM);
      if (a.fd < 0)
        continue;
      // The health question as the first data segment of a new conversation.
      netra::kcp_segment_header probe;
      probe.conv = a.conv = randomConversation();
      probe.cmd = netra::kcp_cmd_push;
      probe.wnd = 128;
      probe.len = kControlHeader;
      uint8_t datagram[netra::kcp_overhead + kControlHeader] = {};
      netra::encode_segment_header(probe, datagram);
      writeControlHeader(datagram + netra::kcp_overhead, kHealth);
      if (::send(a.fd, datagram, sizeof datagram, MSG_NOSIGNAL) != sizeof datagram) {
        ::close(a.fd);
        a.fd = -1;
      }
    } else {
      a.fd = connectTo(nodes_[i].address, SOCK_STREAM);
    }
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.timeoutMs);
  for (;;) {
    std::vector<pollfd> waiting;
    std::vector<size_t> which;
    for (size_t i = 0; i < attempts.size(); ++i) {
      if (attempts[i].fd >= 0 && !attempts[i].answered) {
        waiting.push_back(
            pollfd{attempts[i].fd,
                   static_cast<short>(nodes_[i].probe == Probe::Kcp ? POLLIN : POLLOUT), 0});
        which.push_back(i);
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (waiting.empty() || left <= 0 ||
        ::poll(waiting.data(), waiting.size(), static_cast<int>(left)) <= 0)
      break;
    for (size_t k = 0; k < waiting.size(); ++k) {
      if (waiting[k].revents == 0)
        continue;
      Attempt& a = attempts[which[k]];
      if (nodes_[which[k]].probe == Probe::Kcp) {
        uint8_t answer[1500];
        const ssize_t n = ::recv(a.fd, answer, sizeof answer, 0);
        if (n > 0 && healthAnswered(a.fd, a.conv, answer, static_cast<size_t>(n)))
          a.answered = true;
        else if (n < 0 && errno != EAGAIN)  // refused: nothing listens there
          ::close(std::exchange(a.fd, -1));
      } else {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(a.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        a.answered = error == 0;
        if (!a.answered)
          ::close(std::exchange(a.fd, -1));
      }
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < nodes_.size(); ++i) {
    if (attempts[i].fd >= 0)
      ::close(attempts[i].fd);
    Node& node = nodes_[i];
    const bool wasUp = node.failures < options_.failuresToDown;
    node.failures = attempts[i].answered ? 0 : node.failures + 1;
    const bool isUp = node.failures < options_.failuresToDown;
    if (wasUp != isUp)
      tavsrv::logWarn(node.address.str() + (isUp ? " answers again"
                                                 : " does not answer: its rooms "
                                                   "go to other nodes"));
  }
}

}  // namespace tavsvc

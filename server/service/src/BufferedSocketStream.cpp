#include "BufferedSocketStream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace tavsvc {

BufferedSocketStream::BufferedSocketStream(int fd, std::string& buffer, size_t& offset,
                                           int readTimeoutMs, int writeTimeoutMs,
                                           std::string remoteIp, int remotePort,
                                           LocalAddress& local)
    : fd_(fd),
      buffer_(buffer),
      offset_(offset),
      readTimeoutMs_(readTimeoutMs),
      writeTimeoutMs_(writeTimeoutMs),
      remoteIp_(std::move(remoteIp)),
      remotePort_(remotePort),
      local_(local) {}

bool BufferedSocketStream::waitFor(short events, int timeoutMs) const {
  pollfd p{fd_, events, 0};
  for (;;) {
    const int n = ::poll(&p, 1, timeoutMs);
    if (n < 0 && errno == EINTR)
      continue;
    return n > 0 && (p.revents & (events | POLLHUP | POLLERR)) != 0;
  }
}

bool BufferedSocketStream::is_readable() const {
  return offset_ < buffer_.size() || (flush() && waitFor(POLLIN, readTimeoutMs_));
}

bool BufferedSocketStream::is_writable() const {
  return waitFor(POLLOUT, writeTimeoutMs_);
}

ssize_t BufferedSocketStream::read(char* ptr, size_t size) {
  if (offset_ < buffer_.size()) {
    const size_t n = std::min(size, buffer_.size() - offset_);
    std::memcpy(ptr, buffer_.data() + offset_, n);
    offset_ += n;
    return static_cast<ssize_t>(n);
  }
  // Whatever was written (say "100 Continue") must be out before waiting for the peer.
  if (!flush())
    return -1;
  for (;;) {
    const ssize_t n = ::recv(fd_, ptr, size, MSG_DONTWAIT);
    if (n >= 0) {
      if (n == 0)
        healthy_ = false;
      return n;
    }
    if (errno == EINTR)
      continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(POLLIN, readTimeoutMs_))
      continue;
    healthy_ = false;
    return -1;
  }
}

ssize_t BufferedSocketStream::write(const char* ptr, size_t size) {
  if (gathered_.size() + size <= kGatherBytes) {
    gathered_.append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  if (!flush() || !sendAll(ptr, size))
    return -1;
  return static_cast<ssize_t>(size);
}

bool BufferedSocketStream::flush() const {
  if (gathered_.empty())
    return healthy_;
  const bool sent = sendAll(gathered_.data(), gathered_.size());
  gathered_.clear();
  return sent;
}

bool BufferedSocketStream::sendAll(const char* ptr, size_t size) const {
  if (!healthy_)
    return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::send(fd_, ptr + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(POLLOUT, writeTimeoutMs_))
      continue;
    healthy_ = false;
    return false;
  }
  return true;
}

void BufferedSocketStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  ip = remoteIp_;
  port = remotePort_;
}

void BufferedSocketStream::get_local_ip_and_port(std::string& ip, int& port) const {
  if (local_.port < 0)
    lookUpLocal();
  ip = local_.ip;
  port = local_.port < 0 ? 0 : local_.port;
}

void BufferedSocketStream::lookUpLocal() const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return;  // looked up again next time
  int port = 0;
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    port = ntohs(in->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
    ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    port = ntohs(in6->sin6_port);
  }
  local_.ip = text;
  local_.port = port;
}

}  // namespace tavsvc

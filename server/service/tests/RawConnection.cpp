#include "RawConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tavtest {

RawConnection::RawConnection(int port, const std::string& fromIp) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0)
    return;
  const int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, fromIp.c_str(), &local.sin_addr);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

RawConnection::~RawConnection() {
  if (fd_ >= 0)
    ::close(fd_);
}

RawConnection::RawConnection(RawConnection&& other) noexcept
    : fd_(other.fd_), received_(std::move(other.received_)), closed_(other.closed_) {
  other.fd_ = -1;
}

void RawConnection::close() {
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
}

bool RawConnection::send(const std::string& bytes) {
  size_t done = 0;
  while (fd_ >= 0 && done < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

bool RawConnection::readSome(int timeoutMs) {
  if (fd_ < 0 || closed_)
    return false;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0)
    return true;
  char buffer[4096];
  const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
  if (n > 0) {
    received_.append(buffer, static_cast<size_t>(n));
    return true;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR))
    return true;
  closed_ = true;
  return false;
}

bool RawConnection::poll() {
  while (readSome(0) && !closed_) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0)
      break;
  }
  return !closed_;
}

bool RawConnection::waitFor(const std::string& needle, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (received_.find(needle) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !readSome(static_cast<int>(std::min<long long>(left.count(), 100))))
      return received_.find(needle) != std::string::npos;
  }
  return true;
}

bool RawConnection::waitClosed(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!closed_ && std::chrono::steady_clock::now() < deadline)
    readSome(100);
  return closed_;
}

}  // namespace tavtest

#include "platform/tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

int tcpListen(const std::string& host, uint16_t port, int backlog, std::string* error) {
  auto fail = [&](const char* what) {
    if (error)
      *error = std::string(what) + ": " + std::strerror(errno);
    return -1;
  };
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
    errno = EINVAL;
    return fail("address");
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return fail("socket");
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return fail("bind");
  }
  if (::listen(fd, backlog) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return fail("listen");
  }
  return fd;
}

int tcpAccept(int listening, std::string* peer, bool* retry) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  const int fd = ::accept4(listening, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
  if (fd < 0) {
    if (retry)
      *retry = errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED;
    return -1;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (peer) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    *peer = std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
  }
  return fd;
}

long tcpRecv(int socket, void* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(socket, data, size, 0);
    if (n < 0 && errno == EINTR)
      continue;
    return long(n);
  }
}

bool tcpSendAll(int socket, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::send(socket, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    p += n;
    size -= std::size_t(n);
  }
  return true;
}

void tcpShutdown(int socket) {
  if (socket >= 0)
    ::shutdown(socket, SHUT_RDWR);
}

void tcpClose(int socket) {
  if (socket >= 0)
    ::close(socket);
}

uint16_t tcpLocalPort(int socket) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    return 0;
  return ntohs(addr.sin_port);
}

SocketWait::SocketWait() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    readEnd_ = fds[0];
    writeEnd_ = fds[1];
  }
}

SocketWait::~SocketWait() {
  if (readEnd_ >= 0)
    ::close(readEnd_);
  if (writeEnd_ >= 0)
    ::close(writeEnd_);
}

bool SocketWait::ok() const {
  return readEnd_ >= 0;
}

int SocketWait::wait(const std::vector<int>& sockets, int timeoutMs) {
  std::vector<pollfd> fds;
  fds.reserve(sockets.size() + 1);
  fds.push_back({readEnd_, POLLIN, 0});
  for (int s : sockets)
    fds.push_back({s, POLLIN, 0});
  for (;;) {
    const int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return kError;
    if (n == 0)
      return kTimeout;
    if (fds[0].revents) {
      char drain[64];
      while (::read(readEnd_, drain, sizeof drain) > 0) {
      }
      return kWoken;
    }
    for (std::size_t i = 1; i < fds.size(); ++i)
      if (fds[i].revents)
        return int(i - 1);
  }
}

void SocketWait::wake() {
  const char byte = 1;
  // A full pipe already wakes the waiter.
  [[maybe_unused]] const ssize_t n = ::write(writeEnd_, &byte, 1);
}

}  // namespace platform

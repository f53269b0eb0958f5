#include "video_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace video_test {

media_port::media_port() {
  fd_ = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return;
  int size = 1 << 20;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  socklen_t length = sizeof address;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

media_port::~media_port() {
  if (fd_ >= 0)
    close(fd_);
}

std::optional<bytes> media_port::next(std::chrono::milliseconds limit) {
  pollfd wait{fd_, POLLIN, 0};
  if (poll(&wait, 1, static_cast<int>(limit.count())) <= 0)
    return std::nullopt;
  bytes buffer(2048);
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const ssize_t n =
      recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
  if (n < 0)
    return std::nullopt;
  std::memcpy(peer_, &from, sizeof from);
  have_peer_ = true;
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

void media_port::reply(const bytes& data) {
  if (!have_peer_)
    return;
  sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(peer_),
         sizeof(sockaddr_in));
}

std::size_t media_port::drain(std::chrono::milliseconds quiet) {
  std::size_t n = 0;
  while (next(quiet))
    ++n;
  return n;
}

}  // namespace video_test

#include "audio_test_support.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pavo_test {

udp_peer::udp_peer() {
  fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

udp_peer::~udp_peer() {
  if (fd_ >= 0)
    ::close(fd_);
}

std::optional<std::vector<uint8_t>> udp_peer::receive(std::chrono::milliseconds limit) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0)
    return std::nullopt;
  std::vector<uint8_t> buffer(65536);
  socklen_t len = sizeof from_;
  const ssize_t n =
      ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from_), &len);
  if (n < 0)
    return std::nullopt;
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

void udp_peer::send_to(const sockaddr_in& to, const std::vector<uint8_t>& data) {
  ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int recording_player::play(const common_data_t* frame) {
  if (!frame || !frame->data)
    return -1;
  std::lock_guard<std::mutex> lock(mutex);
  played.emplace_back(frame->data, frame->data + frame->length);
  changed.notify_all();
  return 0;
}

int recording_player::conceal(unsigned count) {
  std::lock_guard<std::mutex> lock(mutex);
  concealed += count;
  return 0;
}

bool recording_player::wait_played(std::size_t count) {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, testsupport::wait_limit(), [&] { return played.size() >= count; });
}

}  // namespace pavo_test

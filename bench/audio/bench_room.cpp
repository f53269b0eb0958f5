#include "bench_room.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>

#include "TestCredentials.h"

namespace bench_audio {

bench_room::bench_room() {
  mcu::Config config;
  config.listen_port = 0;
  config.media_port_base = 0;
  // The members' credentials are signed with the tests' secret (raw_client.h); without the
  // same token the MCU refuses every join.
  config.internal_token = testsupport::kTestSecret;
  server_ = std::make_unique<mcu::Server>(config);
  port_ = server_->start();
}

uint16_t bench_room::add_speaker(uint32_t user) {
  auto member = mcu_test::member(port_, room_id, user);
  if (!member)
    return 0;
  member->send(4, mcu_test::be32({user, 2}));
  const auto opened = member->expect(9);
  members_.push_back(std::move(member));
  if (!opened || opened->payload.size() != 10)
    return 0;
  return mcu_test::half(opened->payload, 8);
}

uint16_t bench_room::add_listener(uint32_t user, uint32_t speaker) {
  auto member = mcu_test::member(port_, room_id, user);
  if (!member)
    return 0;
  member->send(19, mcu_test::be32({speaker, 2}));
  const auto port = member->expect(21);
  members_.push_back(std::move(member));
  if (!port || port->payload.size() != pavo_wire::media_port_payload)
    return 0;
  tokens_[user] = mcu_test::token_of(port->payload);
  return mcu_test::half(port->payload, 8);
}

pavo_wire::media_token bench_room::token(uint32_t user) const {
  auto found = tokens_.find(user);
  return found == tokens_.end() ? pavo_wire::media_token{} : found->second;
}

udp_link::udp_link(uint16_t mcu_port) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
  to_.sin_family = AF_INET;
  to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to_.sin_port = htons(mcu_port);
}

udp_link::~udp_link() {
  if (fd_ >= 0)
    ::close(fd_);
}

void udp_link::send(const uint8_t* data, std::size_t length) {
  ::sendto(fd_, data, length, 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
}

long udp_link::receive(std::vector<uint8_t>& buffer) {
  const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
  return n < 0 ? -1 : static_cast<long>(n);
}

std::vector<uint8_t> registration(uint32_t user, const pavo_wire::media_token& token) {
  return mcu_test::registration(user, token);
}

double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty())
    return 0;
  const double at = p / 100.0 * static_cast<double>(sorted.size() - 1);
  const auto low = static_cast<std::size_t>(std::floor(at));
  const std::size_t high = std::min(low + 1, sorted.size() - 1);
  return sorted[low] + (sorted[high] - sorted[low]) * (at - static_cast<double>(low));
}

}  // namespace bench_audio

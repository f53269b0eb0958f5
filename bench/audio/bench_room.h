// A room on an in-process MCU for the audio benchmarks: members on the control port, their
// audio ports, and plain UDP sockets for the media.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mcu/server.h"
#include "raw_client.h"

namespace bench_audio {

constexpr uint32_t room_id = 3001;

class bench_room {
public:
  bench_room();  // starts the MCU on ephemeral loopback ports
  bool ok() const { return port_ != 0; }
  uint16_t port() const { return port_; }

  // A member that publishes audio; its publisher port, 0 on failure.
  uint16_t add_speaker(uint32_t user);
  // A member subscribed to the room audio (the first speaker must exist); its listening
  // port, 0 on failure.
  uint16_t add_listener(uint32_t user, uint32_t speaker);
  // The media token a listener's registrations carry (it came with its port).
  pavo_wire::media_token token(uint32_t user) const;

private:
  std::unique_ptr<mcu::Server> server_;
  uint16_t port_ = 0;
  std::vector<std::unique_ptr<mcu_test::raw_client>> members_;
  std::map<uint32_t, pavo_wire::media_token> tokens_;
};

// A UDP socket on 127.0.0.1 talking to one MCU port.
class udp_link {
public:
  explicit udp_link(uint16_t mcu_port);
  ~udp_link();
  udp_link(const udp_link&) = delete;
  udp_link& operator=(const udp_link&) = delete;
  int fd() const { return fd_; }
  void send(const uint8_t* data, std::size_t length);
  void send(const std::vector<uint8_t>& data) { send(data.data(), data.size()); }
  // Reads one waiting datagram into `buffer`; its length, or -1 when none waits.
  long receive(std::vector<uint8_t>& buffer);

private:
  int fd_ = -1;
  sockaddr_in to_{};
};

// The registration a listener sends until data comes: its id and its media token.
std::vector<uint8_t> registration(uint32_t user, const pavo_wire::media_token& token);

// Percentile of a sorted list.
double percentile(const std::vector<double>& sorted, double p);

}  // namespace bench_audio

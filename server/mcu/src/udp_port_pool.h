// The media side until forwarding exists: every published or subscribed stream gets a real
// UDP port, bound and held so that nobody else takes it, from which nothing is forwarded
// yet. The audio and video forwarding replace this class behind media_relay.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include "mcu/media_relay.h"

namespace mcu {

class udp_port_pool : public media_relay {
public:
  // Ports from [base, base + count); base 0: the system picks each port.
  udp_port_pool(std::string host, uint16_t base, uint16_t count);
  ~udp_port_pool() override;

  uint16_t open_publisher(uint32_t room, uint32_t user, uint32_t kind) override;
  void close_publisher(uint32_t room, uint32_t user, uint32_t kind) override;
  uint16_t open_subscriber(uint32_t room, uint32_t listener, uint32_t publisher,
                           uint32_t kind) override;
  void close_subscriber(uint32_t room, uint32_t listener, uint32_t publisher,
                        uint32_t kind) override;
  void sender_started(uint32_t room, uint32_t user, uint32_t kind, uint32_t min_kbps) override;
  void loss_report(uint32_t, uint32_t, const uint8_t*, unsigned) override {}

  std::size_t ports_in_use() const;

private:
  // room, listening (false for a publisher's port), listener, publisher, kind
  using key = std::tuple<uint32_t, bool, uint32_t, uint32_t, uint32_t>;
  struct bound_port;

  uint16_t open(const key& k);
  void close(const key& k);

  const std::string host_;
  const uint16_t base_;
  const uint16_t count_;
  mutable std::mutex mutex_;
  uint32_t next_ = 0;  // where the search for a free port starts
  std::map<key, std::unique_ptr<bound_port>> ports_;
  struct io;
  std::unique_ptr<io> io_;
};

}  // namespace mcu

#include "udp_port_pool.h"

#include <asio.hpp>

#include "tavsrv/Log.h"

namespace mcu {

namespace {
// Without a range the system picks ports; this bounds how many we hold.
constexpr std::size_t max_ephemeral_ports = 4096;
}  // namespace

struct udp_port_pool::io {
  asio::io_context context;
};

struct udp_port_pool::bound_port {
  explicit bound_port(asio::io_context& context) : socket(context) {}
  asio::ip::udp::socket socket;
  uint16_t port = 0;
};

udp_port_pool::udp_port_pool(std::string host, uint16_t base, uint16_t count)
    : host_(std::move(host)), base_(base), count_(count), io_(std::make_unique<io>()) {}

udp_port_pool::~udp_port_pool() {
  std::lock_guard<std::mutex> lock(mutex_);
  ports_.clear();
}

uint16_t udp_port_pool::open(const key& k) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = ports_.find(k);
  if (found != ports_.end())
    return found->second->port;
  asio::error_code ec;
  const auto address = asio::ip::make_address_v4(host_, ec);
  if (ec)
    return 0;
  const uint32_t attempts = base_ == 0 ? 1 : count_;
  if (base_ == 0 && ports_.size() >= max_ephemeral_ports)
    return 0;
  for (uint32_t i = 0; i < attempts; ++i) {
    const uint32_t candidate = base_ == 0 ? 0 : base_ + (next_ + i) % count_;
    if (candidate > 65535)
      continue;
    auto port = std::make_unique<bound_port>(io_->context);
    port->socket.open(asio::ip::udp::v4(), ec);
    if (ec)
      return 0;
    port->socket.bind(asio::ip::udp::endpoint(address, static_cast<uint16_t>(candidate)), ec);
    if (ec)
      continue;  // taken by somebody else
    port->port = port->socket.local_endpoint(ec).port();
    if (ec)
      continue;
    if (base_ != 0)
      next_ = (next_ + i + 1) % count_;
    const uint16_t result = port->port;
    ports_[k] = std::move(port);
    return result;
  }
  tavsrv::logWarn("mcu: no free media port");
  return 0;
}

void udp_port_pool::close(const key& k) {
  std::unique_ptr<bound_port> port;
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = ports_.find(k);
  if (found == ports_.end())
    return;
  port = std::move(found->second);
  ports_.erase(found);
}

uint16_t udp_port_pool::open_publisher(uint32_t room, uint32_t user, uint32_t kind) {
  return open(key{room, false, 0, user, kind});
}

void udp_port_pool::close_publisher(uint32_t room, uint32_t user, uint32_t kind) {
  close(key{room, false, 0, user, kind});
}

uint16_t udp_port_pool::open_subscriber(uint32_t room, uint32_t listener, uint32_t publisher,
                                        uint32_t kind) {
  return open(key{room, true, listener, publisher, kind});
}

void udp_port_pool::close_subscriber(uint32_t room, uint32_t listener, uint32_t publisher,
                                     uint32_t kind) {
  close(key{room, true, listener, publisher, kind});
}

void udp_port_pool::sender_started(uint32_t room, uint32_t user, uint32_t kind, uint32_t min_kbps) {
  tavsrv::logDebug("mcu: room " + std::to_string(room) + " user " + std::to_string(user) +
                   " sends kind " + std::to_string(kind) + ", at least " +
                   std::to_string(min_kbps) + " kbit/s");
}

std::size_t udp_port_pool::ports_in_use() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ports_.size();
}

}  // namespace mcu

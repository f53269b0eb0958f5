#include "admission.h"

#include <asio/ip/address_v4.hpp>
#include <chrono>

#include "control_wire.h"

namespace mcu {

std::optional<std::string_view> read_credential(wirebytes::byte_reader& in) {
  const uint16_t length = in.u16();
  const uint8_t* text = in.bytes(length);
  if (!in.ok() ||
      !pavo_wire::credential_text_ok(reinterpret_cast<const char*>(text), unsigned{length}))
    return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(text), length);
}

std::optional<tavsrv::Credential> check_credential(const std::string& secret,
                                                   std::optional<std::string_view> text,
                                                   uint32_t room, std::optional<uint32_t> user) {
  if (!text || secret.empty())
    return std::nullopt;
  const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  auto credential = tavsrv::verifyCredential(secret, *text, now_ms);
  if (!credential || credential->room != room || (user && credential->user != *user))
    return std::nullopt;
  return credential;
}

uint32_t ipv4_number(const std::string& dotted) {
  asio::error_code ec;
  const auto address = asio::ip::make_address_v4(dotted, ec);
  return ec ? 0 : address.to_uint();
}

uint64_t steady_ms() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool pending_sessions::admit(uint64_t session, const std::string& address, uint16_t port,
                             uint64_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t& from_address = per_address_[address];
  std::size_t& from_endpoint = per_endpoint_[{address, port}];
  if (from_address >= limits_.per_address || from_endpoint >= limits_.per_endpoint) {
    if (from_endpoint == 0)
      per_endpoint_.erase({address, port});
    if (from_address == 0)
      per_address_.erase(address);
    return false;
  }
  ++from_address;
  ++from_endpoint;
  sessions_[session] = entry{address, port, now_ms};
  return true;
}

void pending_sessions::forget(std::map<uint64_t, entry>::iterator it) {
  const entry& e = it->second;
  auto address = per_address_.find(e.address);
  if (address != per_address_.end() && --address->second == 0)
    per_address_.erase(address);
  auto endpoint = per_endpoint_.find({e.address, e.port});
  if (endpoint != per_endpoint_.end() && --endpoint->second == 0)
    per_endpoint_.erase(endpoint);
  sessions_.erase(it);
}

void pending_sessions::settle(uint64_t session) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sessions_.find(session);
  if (it != sessions_.end())
    forget(it);
}

std::vector<uint64_t> pending_sessions::take_overdue(uint64_t now_ms) {
  std::vector<uint64_t> overdue;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    auto next = std::next(it);
    if (now_ms - it->second.since_ms >= limits_.timeout_ms) {
      overdue.push_back(it->first);
      forget(it);
    }
    it = next;
  }
  return overdue;
}

std::size_t pending_sessions::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

}  // namespace mcu

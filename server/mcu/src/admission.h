// Who gets in: the credential at the end of a join (30) or login (0), checked against the
// service's secret, and the sessions that have not joined or logged in yet, bounded per client
// address and per address and port and given a few seconds to do so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tavsrv/Credential.h"
#include "wirebytes/byte_reader.h"

namespace mcu {

// Reads the credential that ends a join or a login (control_wire.h: u16 length, text).
// Empty when there is none or it is malformed; the reader is left after it.
std::optional<std::string_view> read_credential(wirebytes::byte_reader& in);

// The credential when it is signed with `secret`, names `room` (and `user`, when given) and
// has not expired by the wall clock. Never with an empty secret.
std::optional<tavsrv::Credential> check_credential(const std::string& secret,
                                                   std::optional<std::string_view> text,
                                                   uint32_t room,
                                                   std::optional<uint32_t> user = std::nullopt);

// IPv4 dotted text to a number in host order; 0 when it is none.
uint32_t ipv4_number(const std::string& dotted);

// Milliseconds of the steady clock.
uint64_t steady_ms();

// Refusals come in floods: a line for the 1st, 2nd, 4th, 8th, ... of a kind.
inline bool worth_a_line(uint64_t count) {
  return count != 0 && (count & (count - 1)) == 0;
}

struct pending_limits {
  std::size_t per_address = 16;  // sessions not yet in, from one IPv4 address
  std::size_t per_endpoint = 2;  // from one address and port (a client uses one per attempt)
  uint32_t timeout_ms = 5000;    // to send the join or log in
};

// The sessions of one KCP endpoint that have not joined (main port) or logged in (room port).
// Thread-safe: the endpoint's network thread admits and settles, the housekeeping collects
// what is overdue.
class pending_sessions {
public:
  explicit pending_sessions(pending_limits limits) : limits_(limits) {}

  // A new session from (address, port) at now_ms. False when that address or endpoint has its
  // share of pending sessions already: the session is then refused.
  bool admit(uint64_t session, const std::string& address, uint16_t port, uint64_t now_ms);
  // The session joined or logged in, or ended: it counts no more.
  void settle(uint64_t session);
  // Sessions pending longer than the time-out, forgotten here: the endpoint closes them.
  std::vector<uint64_t> take_overdue(uint64_t now_ms);
  std::size_t size() const;

private:
  struct entry {
    std::string address;
    uint16_t port = 0;
    uint64_t since_ms = 0;
  };
  void forget(std::map<uint64_t, entry>::iterator it);  // under mutex_

  const pending_limits limits_;
  mutable std::mutex mutex_;
  std::map<uint64_t, entry> sessions_;
  std::map<std::string, std::size_t> per_address_;
  std::map<std::pair<std::string, uint16_t>, std::size_t> per_endpoint_;
};

}  // namespace mcu

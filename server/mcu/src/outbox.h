// What one step of a room's logic wants sent: the outbox a room's logic fills for its endpoint.
// The messages themselves are the clients' (control_wire.h).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "control_wire.h"
#include "wirebytes/byte_writer.h"

namespace mcu {

using session_id = uint64_t;
using bytes = std::vector<uint8_t>;

// A payload of big-endian words.
inline bytes words(std::initializer_list<uint32_t> values) {
  bytes out;
  out.reserve(values.size() * 4);
  wirebytes::byte_writer writer(out);
  for (uint32_t v : values)
    writer.u32(v);
  return out;
}

struct outgoing {
  session_id to;
  uint32_t type;
  bytes payload;
};

// What one step of a room's logic wants done, in order: messages to send, then sessions to
// end (after what was queued for them has gone out).
struct outbox {
  std::vector<outgoing> sends;
  std::vector<session_id> closes;

  void send(session_id to, uint32_t type, bytes payload = {}) {
    sends.push_back({to, type, std::move(payload)});
  }
};

}  // namespace mcu

#include "mcu_link.h"

#include "control_wire.h"
#include "woblog/woblog.h"

namespace pavo {

using namespace pavo_wire;

mcu_link::~mcu_link() {
  delete client_;
}

bool mcu_link::attach(kcp_client* client) {
  kcp_client* old = nullptr;
  bool taken = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old = client_;
    taken = !shut_ || !client;
    client_ = taken ? client : nullptr;
  }
  // Freed outside the lock: closing may linger for the peer's acknowledgements.
  delete old;
  if (!taken)
    delete client;
  return taken;
}

void mcu_link::release() {
  attach(nullptr);
}

void mcu_link::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (client_)
    client_->close();
}

void mcu_link::shutdown() {
  std::lock_guard<std::mutex> lock(mutex_);
  shut_ = true;
  if (client_)
    client_->close();
}

int mcu_link::send_msg(uint32_t type, const void* payload, unsigned length) {
  if (length > max_send_payload) {
    qn::log("message %u with %u bytes not sent (limit %u)", type, length, max_send_payload);
    return -1;
  }
  kcp_header_t header{0, static_cast<uint16_t>(length), type};
  std::lock_guard<std::mutex> lock(mutex_);
  if (!client_)
    return -1;
  return client_->send(&header, payload, length) < 0 ? -1 : 0;
}

}  // namespace pavo

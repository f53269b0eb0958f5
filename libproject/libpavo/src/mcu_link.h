// The MCU control connection as shared between the connection thread, which creates,
// receives on and replaces it, and every thread that sends. Sends are serialised by the
// link's mutex, so the connection cannot be released under a sender.
#pragma once

#include <cstdint>
#include <mutex>

#include "libnetra/kcp_client.h"
#include "sendmsg2mcu.h"

namespace pavo {

class mcu_link : public sendmsg2mcu {
public:
  mcu_link() = default;
  ~mcu_link() override;
  mcu_link(const mcu_link&) = delete;
  mcu_link& operator=(const mcu_link&) = delete;

  // Makes `client` (owned from now on) the connection; a previous one is released. After
  // shutdown() the client is freed at once and false returned.
  bool attach(kcp_client* client);
  // Closes and frees the connection. Only the receiving thread calls it, so no recv() runs.
  void release();
  // Closes the connection (waking a blocked recv or connect) but keeps the object.
  void close();
  // As close(), and every later attach() is refused: the library is going away.
  void shutdown();
  // The connection for recv(); only the thread that attached it may use it.
  kcp_client* receiver() const { return client_; }

  int send_msg(uint32_t type, const void* payload, unsigned length) override;

private:
  mutable std::mutex mutex_;
  kcp_client* client_ = nullptr;
  bool shut_ = false;
};

}  // namespace pavo

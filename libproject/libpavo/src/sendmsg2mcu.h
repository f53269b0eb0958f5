// The send side of the MCU control connection, as the library's parts see it.
#pragma once

#include <cstdint>

class sendmsg2mcu {
public:
  virtual ~sendmsg2mcu() = default;
  // Sends one control message (payload integers already big-endian). Safe from any thread.
  // 0 sent; -1 when there is no connection, or the payload is above 4096 bytes (dropped).
  virtual int send_msg(uint32_t type, const void* payload, unsigned length) = 0;
};

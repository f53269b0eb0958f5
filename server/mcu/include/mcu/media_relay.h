// The MCU's media side as the control side uses it: UDP ports for published and subscribed
// streams, and the feedback the forwarding needs. The control side decides who publishes
// and who listens; a media_relay moves the datagrams. Calls may come from any room's thread.
#pragma once

#include <cstdint>
#include <functional>

#include "control_wire.h"

namespace mcu {

class media_relay {
public:
  virtual ~media_relay() = default;

  // The port a publisher sends its stream of `kind` to; 0 when no port is free. `source` is
  // the IPv4 address (host order) of the publisher's control session: the port takes
  // datagrams from that address only (any port there, since media use sockets of their own).
  // Asked again, the same port comes back, now bound to the `source` given.
  virtual uint16_t open_publisher(uint32_t room, uint32_t user, uint32_t kind, uint32_t source) = 0;
  virtual void close_publisher(uint32_t room, uint32_t user, uint32_t kind) = 0;
  // The port `listener` receives (publisher, kind) from. Audio is one mixed stream per
  // listener: it is opened with publisher 0 and carries every audio publisher of the room.
  // `source` is the listener's control-session address and `token` its session's media token:
  // a registration counts only from there and with that token (control_wire.h). Asked again,
  // the same port comes back, bound to the `source` and `token` given.
  virtual uint16_t open_subscriber(uint32_t room, uint32_t listener, uint32_t publisher,
                                   uint32_t kind, uint32_t source,
                                   const pavo_wire::media_token& token) = 0;
  virtual void close_subscriber(uint32_t room, uint32_t listener, uint32_t publisher,
                                uint32_t kind) = 0;

  // Message 18: the publisher's video sender runs, with its minimum bitrate (kbit/s).
  virtual void sender_started(uint32_t room, uint32_t user, uint32_t kind, uint32_t min_kbps) = 0;
  // Message 15: a listener's missing packet numbers ({publisher, kind, n, listener, u16[n]}).
  virtual void loss_report(uint32_t room, uint32_t listener, const uint8_t* report,
                           unsigned length) = 0;

  // How the relay reaches a member over its control connection (14 retransmission requests,
  // 16 bandwidth feedback, 17 quality levels): room, user, type, big-endian payload.
  using control_sender = std::function<void(uint32_t room, uint32_t user, uint32_t type,
                                            const uint8_t* payload, unsigned length)>;
  // The server sets it before the first room opens and clears it (empty function) when it
  // stops; once that call returns the old sender is not running and will not be called. The
  // relay never calls it under its own locks, so the sender may take the rooms' locks.
  virtual void set_control_sender(control_sender sender) { (void)sender; }
};

}  // namespace mcu

// A room's KCP endpoint: its own port, on which the members log in with a credential for
// this room, with the room's logic behind it. Handlers run on the endpoint's network thread; the
// lock also admits the server's housekeeping (probes, disconnects, snapshots).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "admission.h"
#include "mcu/server.h"
#include "netra/kcp_server.h"
#include "room_logic.h"
#include "tavsrv/Removals.h"

namespace mcu {

struct room_counters {
  std::atomic<uint64_t> logins{0};
  std::atomic<uint64_t> messages{0};
  std::atomic<uint64_t> dropped{0};
  std::atomic<uint64_t> refused_logins{0};
  std::atomic<uint64_t> refused_actions{0};   // not the sender's role's
  std::atomic<uint64_t> refused_sessions{0};  // over the pending limits
  std::atomic<uint64_t> timed_out{0};         // did not log in in time
};

class room {
public:
  // removals: who the service removed from which room; their logins are refused.
  room(uint32_t id, const Config& config, media_relay& relay, room_counters& counters,
       const tavsrv::RemovalList& removals);
  ~room();
  room(const room&) = delete;
  room& operator=(const room&) = delete;

  // Binds the room's port. False with *error set when it cannot.
  bool start(std::string* error);
  void stop();
  uint16_t port() const { return port_; }
  uint32_t id() const { return id_; }

  // Milliseconds (steady clock) since the room last had members or handed out its port; 0
  // while it has members.
  uint64_t empty_for(uint64_t now_ms);
  void joined(uint64_t now_ms);  // its port was just handed to a client
  void probe();
  // Closes the sessions that did not log in within the time-out.
  void close_overdue(uint64_t now_ms);
  std::size_t pending_count() const { return pending_.size(); }
  bool disconnect(uint32_t user_id);
  // The server is stopping: every member is told to go (70), so its client notices at once
  // and comes back when the MCU does, instead of waiting out its silence time-out.
  void farewell();
  // No session left to drain.
  bool drained() const;
  // A message of the media relay to a member; false when the member is not here.
  bool send_to_member(uint32_t user_id, uint32_t type, const uint8_t* payload, unsigned length);
  RoomInfo info();
  std::size_t member_count();

private:
  void on_message(uint64_t session, const kcp_header_t& header, const uint8_t* payload,
                  unsigned length);
  bool on_accept(uint64_t session, const netra::kcp_peer_address& address);
  void on_close(uint64_t session);
  // Message 0: {mask, id, credential}. The credential must name this user and this room, and
  // the user must not be removed from it; else 70 and the session ends. Under mutex_.
  bool login(session_id session, const uint8_t* payload, unsigned length, outbox& out);
  void apply(outbox& out);  // under mutex_

  const uint32_t id_;
  const Config& config_;
  room_counters& counters_;
  const tavsrv::RemovalList& removals_;
  std::unique_ptr<netra::kcp_server> server_;
  uint16_t port_ = 0;
  std::mutex mutex_;
  room_logic logic_;
  pending_sessions pending_;
  uint64_t last_used_ms_ = 0;
};

}  // namespace mcu

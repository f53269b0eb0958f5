// The MCU's control side: room join on the main KCP port, one KCP endpoint per room, login
// (both with a credential the service signed), user lists, class / share / tag floors, peer
// message routing, media open / close / subscribe with UDP ports from a media_relay.
//
//   mcu::Config cfg;               // 127.0.0.1:27802, media ports from 27810
//   cfg.listen_port = 0;           // let the system choose
//   mcu::Server server(cfg);
//   uint16_t port = server.start(); // 0 on failure, see error()
//   ...
//   server.stop();                 // also done by the destructor
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mcu/media_relay.h"

namespace mcu {

struct Config {
  std::string listen_host = "127.0.0.1";  // numeric IPv4; rooms listen there too
  uint16_t listen_port = 27802;           // 0: an ephemeral port
  // Media UDP ports are taken from [media_port_base, media_port_base + media_port_count);
  // base 0 lets the system choose each one.
  uint16_t media_port_base = 27810;
  uint16_t media_port_count = 1000;
  // A client silent this long counts as gone (clients send a keep-alive every 5 s).
  uint32_t session_idle_ms = 30000;
  // Every member is probed (message 8) this often to refresh its device mask; 0: never.
  uint32_t probe_interval_ms = 30000;
  // A room without members closes after this long.
  uint32_t empty_room_ms = 60000;
  std::size_t max_rooms = 256;
  std::size_t max_members = 500;  // per room
  // The secret the service signs credentials with (the internal token every role is given).
  // A room is opened, and a login let in, only for a credential signed with it that names
  // the room (and the user logging in) and has not expired; empty: every join and login is
  // refused.
  std::string internal_token;
  // The service whose removals from rooms are followed (e.g. "http://127.0.0.1:27800"): a
  // removed member's session is ended at once (message 70) and its logins to that room refused
  // while the ban lasts. Empty: removals are not followed.
  std::string service_url;
  // A session that has not sent its join (main port) or logged in (room port) this long
  // after it opened is closed.
  uint32_t login_timeout_ms = 5000;
  // Sessions that have not joined or logged in yet, on each port: at most this many from one
  // IPv4 address and from one address and port; further ones are refused until those finish.
  std::size_t max_pending_per_address = 16;
  std::size_t max_pending_per_endpoint = 2;
  // The media side; null: a port pool that reserves real UDP ports and moves nothing yet.
  std::shared_ptr<media_relay> relay;
  bool verbose = false;  // log every message, not only faults and changes
};

struct Stats {
  uint64_t joins = 0;             // room joins answered with a room's port
  uint64_t logins = 0;            // logins accepted
  uint64_t messages = 0;          // control messages received in rooms
  uint64_t dropped = 0;           // malformed, unknown or unroutable messages
  uint64_t refused_joins = 0;     // without a valid credential for the room, or no room free
  uint64_t refused_logins = 0;    // without a valid credential for the user and room, or removed
  uint64_t refused_actions = 0;   // messages dropped because the sender's role may not send them
  uint64_t removals_cut = 0;      // sessions ended because their member was removed
  uint64_t refused_sessions = 0;  // over the limits of sessions not yet in
  uint64_t timed_out = 0;         // closed for not joining or logging in in time
  std::size_t pending = 0;        // sessions not yet joined or logged in, all ports
  std::size_t rooms = 0;          // open now
  std::size_t members = 0;        // logged in now, all rooms
};

struct MemberInfo {
  uint32_t user_id = 0;
  uint32_t device_mask = 0;
  uint32_t published = 0;      // media kinds, or-ed
  uint32_t subscriptions = 0;  // video streams received, plus 1 for the room audio
};

struct RoomInfo {
  uint32_t room_id = 0;
  uint16_t port = 0;
  bool class_running = false;
  uint32_t class_starter = 0;
  int64_t sharer = -1;              // -1: nobody
  int64_t tag_holder = -1;          // -1: nobody
  std::vector<MemberInfo> members;  // in login order
};

class Server {
public:
  explicit Server(Config config);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds the main port and starts serving; the bound port, 0 on failure (see error()).
  // Calling it again while running returns the same port.
  uint16_t start();
  // Closes every room and joins every thread. Safe to call twice.
  void stop();

  uint16_t port() const;
  const std::string& error() const;
  Stats stats() const;
  std::vector<RoomInfo> rooms() const;
  // Tells a member to disconnect (message 70) and ends its session. False if not present.
  bool disconnect_user(uint32_t room_id, uint32_t user_id);

private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace mcu

// netra: the server end of KCP control connections.
//
// One UDP socket, many sessions. A session is keyed by the client's address, port and conv
// and is created by the first datagram that opens a conversation (a window probe, as
// kcp_client::connect sends, or the data segment with sn 0) and that on_accept lets in.
// Messages are control messages (8-byte header in network order, then the payload), as
// kcp_client sends them. A session ends by close(), when the client has been silent for the
// idle time-out, or when it stops acknowledging (dead link); its key is then ignored for
// ended_key_ms so that the client's late segments cannot reopen it.
//
// Handlers run on the server's network thread, one at a time, never under the server's lock:
// they may call send(), close(), peer() and session_count(), but not stop().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "libnetra/kcp_client.h"
#include "netra/kcp_session.h"

namespace netra {

struct kcp_peer_address {
  std::string ip;  // dotted IPv4
  uint16_t port = 0;
};

enum class kcp_close_reason {
  closed,     // close() was called and the session has drained or lingered long enough
  idle,       // nothing valid came from the client within the idle time-out
  dead_link,  // a segment was sent dead_link times without an acknowledgement
};

struct kcp_server_options {
  std::string ip = "127.0.0.1";  // address to bind
  uint16_t port = 0;             // 0: chosen by the system, see port()
  uint32_t idle_timeout_ms = 30000;
  uint32_t close_linger_ms = 1000;  // how long close() lets unacknowledged data drain
  uint32_t ended_key_ms = 60000;    // how long the key of an ended or refused session is ignored
  std::size_t max_sessions = 1024;
  kcp_config session;  // settings of every session
};

class kcp_server {
public:
  using session_id = uint64_t;  // never 0, never reused by one server

  struct handlers {
    // A new client. Return false to refuse it (its key is then ignored for a while).
    std::function<bool(session_id, const kcp_peer_address&)> on_accept;
    // One whole message; `payload` is valid only during the call.
    std::function<void(session_id, const kcp_header_t&, const uint8_t* payload, unsigned length)>
        on_message;
    // The session is gone; send() to it fails from now on. Not called by stop().
    std::function<void(session_id, kcp_close_reason)> on_close;
    // One log line (dropped input, refused clients). Without it lines go to qn::log. May be
    // called under the server's lock: it must not call the server.
    std::function<void(const std::string&)> on_log;
  };

  kcp_server(kcp_server_options options, handlers handlers);
  // Stops the server.
  ~kcp_server();
  kcp_server(const kcp_server&) = delete;
  kcp_server& operator=(const kcp_server&) = delete;

  // Binds the socket and starts the network thread. 0 done; -1 bad address, bind failure or
  // already started.
  int start();
  // The bound port (after start()).
  uint16_t port() const;
  // Queues one message to a session. 0 queued; -1 unknown or closing session, header.length
  // not equal to `length`, dead link or the session's send queue full.
  int send(session_id id, const kcp_header_t& header, const void* payload, unsigned length);
  // Closes a session after what it still has to send is acknowledged (or the linger time has
  // passed); on_close(closed) follows. 0 done, -1 unknown session.
  int close(session_id id);
  // The client's address. False for an unknown session.
  bool peer(session_id id, kcp_peer_address* out) const;
  std::size_t session_count() const;
  // Stops the network thread and drops every session. When it returns no handler runs or
  // will follow. 0 done; -1 when called from a handler (nothing is stopped then).
  int stop();

private:
  struct impl;
  std::unique_ptr<impl> impl_;
};

}  // namespace netra

// The conversion server (libfalco's peer): one TCP connection per document. A job is taken
// only with a room credential the service signed for its user and room, naming the room's
// teacher; the document is stored under the job's own name, converted (Converter.h) and its
// pages streamed back as they are rendered. A client that goes away cancels its job.
//
//   convert::Config cfg;             // 127.0.0.1:27803
//   cfg.listen_port = 0;             // let the system choose
//   cfg.internal_token = secret;     // what the service signs credentials with
//   convert::Server server(cfg);
//   uint16_t port = server.start();  // 0 on failure, see error()
//   ...
//   server.stop();                   // also done by the destructor
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "convert/Converter.h"

namespace convert {

struct Config {
  std::string listen_host = "127.0.0.1";  // numeric IPv4
  std::uint16_t listen_port = 27803;      // 0: an ephemeral port
  // Jobs work in data_dir/jobs/<random>/, removed when they end; what a killed server left
  // there is removed at the next start.
  std::string data_dir = "tav-convert-data";
  // The secret the service signs room credentials with; empty: every job is refused.
  std::string internal_token;
  Limits limits;
  Tools tools;
  // Jobs converting at once; further uploaded jobs wait for a free converter.
  std::size_t max_jobs = 3;
  // Jobs open at once (uploading, waiting or converting): connections whose submit carried
  // a credential the server believes. One more is answered with ErrorCode::busy.
  std::size_t max_connections = 16;
  // Jobs of one user at once (one teacher's credential does not hold every slot).
  std::size_t max_jobs_per_user = 4;
  // Connections that have not yet shown a credential hold no job slot; they are bounded on
  // their own: at most this many from one address (a newer one closes the oldest of them, so
  // silent connections cannot keep a teacher behind the same address out) ...
  std::size_t max_pending_per_address = 4;
  // ... and this many in all (more are refused as busy).
  std::size_t max_pending = 64;
  // The whole submit must arrive this soon after connecting (a deadline, not a silence).
  std::chrono::milliseconds submit_timeout{std::chrono::seconds(5)};
  // Longest silence of a client while it uploads, and longest stall of a page being sent.
  std::chrono::milliseconds io_timeout{std::chrono::seconds(30)};
  // A working frame is sent this often while a job waits or converts.
  std::chrono::milliseconds keepalive{std::chrono::seconds(5)};
};

struct Stats {
  std::uint64_t accepted = 0;   // jobs whose submit was taken
  std::uint64_t completed = 0;  // every page sent
  std::uint64_t failed = 0;     // ended with an error frame (refusals included)
  std::uint64_t cancelled = 0;  // the client went away or the server stopped
  std::size_t connections = 0;  // open now
  std::size_t pending = 0;      // open now, the submit not yet taken
  std::size_t converting = 0;   // holding a converter now
};

class Server {
public:
  explicit Server(Config config);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and starts accepting; the bound port, or 0 with error().
  std::uint16_t start();
  // Stops accepting, cancels every job (its converter killed, its folder removed) and joins
  // the threads. Safe to call twice.
  void stop();
  std::string error() const;
  Stats stats() const;

  class Impl;

private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace convert

// The video server: recorded classes arrive here, are kept, turned into the renditions the
// player chooses from ("OD" the original, "LD" a lower one), published as courseware of
// their room at the service, and served with byte ranges.
//
// An upload is made with the room credential of the room's teacher side (the teacher, 1,
// or an assistant, 6) and the recording's description tag; its bytes arrive in pieces at
// their offsets, so a broken upload goes on from what the server holds, also after either
// side restarted. Once every byte is there a bounded worker makes the renditions with
// FFmpeg (child processes in a sandbox) and registers the courseware with the service.
//
//   video::Config cfg;                 // 127.0.0.1:27804
//   cfg.listen_port = 0;               // let the system choose
//   cfg.internal_token = secret;       // what the service signs credentials with
//   cfg.service_url = "http://127.0.0.1:27800";
//   video::Server server(cfg);
//   uint16_t port = server.start();    // 0 on failure, see error()
//   ...
//   server.stop();                     // also done by the destructor
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace video {

struct Config {
  std::string listen_host = "127.0.0.1";
  std::uint16_t listen_port = 27804;  // 0: an ephemeral port
  // Uploads in data_dir/uploads/<id>/, renditions in data_dir/files/<room>/<id>/.
  std::string data_dir = "tav-video-data";
  // The secret the service signs room credentials with; empty: every upload is refused.
  std::string internal_token;
  // The service: names are looked up there, and the courseware is registered there with the
  // internal token.
  std::string service_url = "http://127.0.0.1:27800";
  // Where clients reach this server, the start of every PlayURL; empty: http://HOST:PORT of
  // the address listened on.
  std::string public_url;

  std::uint64_t max_recording_bytes = 2ull << 30;  // one recording (about 3 hours of 720p)
  std::size_t max_piece_bytes = 8u << 20;          // one PUT of an upload's bytes
  std::size_t max_open_uploads = 64;               // not yet published, in all
  std::size_t max_open_uploads_per_user = 4;
  // Unfinished uploads untouched this long are removed, as are the records of ended ones.
  std::chrono::hours upload_lifetime{24};

  std::size_t threads = 16;      // answering requests (a connection holds one while open)
  std::size_t renderers = 1;     // recordings rendered at once; others wait in order
  std::size_t max_waiting = 32;  // recordings waiting for a renderer
  std::string ffmpeg = "ffmpeg";
  std::string bwrap = "bwrap";
  // FFmpeg runs in bubblewrap's sandbox; where it cannot be made every rendition fails. Only
  // the operator turns it off (tav-video --unsandboxed).
  bool sandbox = true;
  std::chrono::minutes render_timeout{30};   // one recording's renditions
  std::uint64_t render_memory = 4ull << 30;  // FFmpeg's address space
  int ld_height = 360;                       // the LD rendition's height (width keeps the aspect)
};

struct Stats {
  std::uint64_t uploads_created = 0;
  std::uint64_t pieces_stored = 0;
  std::uint64_t published = 0;
  std::uint64_t failed = 0;
  std::uint64_t refused = 0;  // requests refused for their credential, size or state
};

class Server {
public:
  explicit Server(Config config);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Loads what an earlier run left (unfinished uploads go on, recordings not yet rendered
  // are queued again), binds and starts serving. The bound port, or 0 with error().
  std::uint16_t start();
  // Stops serving, ends running renditions (they start again at the next start) and joins
  // the threads. Safe to call twice.
  void stop();
  std::string error() const;
  Stats stats() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace video

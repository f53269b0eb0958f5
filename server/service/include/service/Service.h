// The HTTP JSON service: accounts, rooms, presence, moderation, gifts, medals,
// balances, chat history, shared documents, courseware, announcements, files and
// the web pages, over cpp-httplib with its store in an SQLite file of the data
// folder or in a PostgreSQL database that several service nodes share.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tavsrv/Clock.h"
#include "tavsrv/Flags.h"
#include "tavsrv/HostPort.h"
#include "tavsrv/Role.h"

namespace tavsvc {

enum class PasswordStrength {
  Interactive,  // libsodium's interactive Argon2id limits (the default)
  Minimum,      // the smallest limits libsodium allows: for tests only
};

struct ServiceConfig {
  std::string host = tavsrv::kLoopback;
  int port = tavsrv::defaultPort(tavsrv::RolePort::Service);  // 0: any free port
  std::string dataDir = "tav-service-data";
  // The store: empty for the SQLite file DATA/service.db, or a PostgreSQL URL
  // ("postgresql://user@host/db"). Nodes sharing a PostgreSQL store share DATA
  // too (uploads and installers), as a folder mounted on every node.
  std::string database;

  // Addresses handed out to clients (room entry, login). Of the MCUs,
  // conversion and video servers each room gets one (service/Placement.h):
  // the same on every service node, and not one that stopped answering.
  tavsrv::HostPort msgServer{tavsrv::kLoopback, tavsrv::defaultPort(tavsrv::RolePort::Msg)};
// The threads answering ordinary calls: config.threads, or when 0, enough to
// keep the processors busy without making them switch between threads for
// nothing: twice the processors (at least 4) on SQLite, whose calls rarely wait;
// four times (at least 8) on PostgreSQL, whose calls wait on its answers.
int callThreadsFor(const ServiceConfig& config);

  // Message-server nodes joined by NATS, when more than one: each client is
  // handed a live one (a room's members the same one while it lives). Empty:
  // msgServer alone.
  std::vector<tavsrv::HostPort> msgServers;
  std::vector<tavsrv::HostPort> mcus{
      {tavsrv::kLoopback, tavsrv::defaultPort(tavsrv::RolePort::McuControl)}};
  std::vector<tavsrv::HostPort> convertServers{
      {tavsrv::kLoopback, tavsrv::defaultPort(tavsrv::RolePort::Convert)}};
  std::vector<tavsrv::HostPort> videoServers{
      {tavsrv::kLoopback, tavsrv::defaultPort(tavsrv::RolePort::Video)}};
  // How often the nodes of a kind with several are probed (NodeHealth).
  int healthIntervalMs = 2000;
  // Empty host: the service's own address (it serves the files itself).
  tavsrv::HostPort fileServer;

  // Secret expected in X-Tav-Internal-Token from the other roles; empty turns
  // the internal endpoints off.
  std::string internalToken;

  bool seedDemo = true;
  // With the demo data, make short courseware videos (needs the ffmpeg program).
  bool demoVideos = true;
  // Threads answering ordinary calls (connections wait without one); 0: chosen
  // from the processors (callThreadsFor).
  int threads = 0;
  int maxConnections = 4096;  // open connections in all (fewer when ulimit -n is low)
  int connectionsPerAddress = 64;  // open connections from one client address
  // Load balancers in front: their X-Forwarded-For names the client (its
  // address counts for wrong passwords, tickets and uploads per address).
  std::vector<std::string> trustedProxies;
  int idleTimeoutMs = 10000;       // an open connection's wait for its next request
  int headTimeoutMs = 5000;        // from a request's first byte to its whole head and form body
  int dbConnections = 4;           // store connections in the pool
  int hashThreads = 2;             // logins answered at the same time (Argon2id is memory-hard)
  PasswordStrength passwordStrength = PasswordStrength::Interactive;
  // Largest form body. cpp-httplib itself refuses form-encoded bodies above
  // 8 KiB (CPPHTTPLIB_FORM_URL_ENCODED_PAYLOAD_MAX_LENGTH of the system library),
  // so the same limit holds for bodies sent with any other content type.
  size_t formLimit = 8192;
  size_t uploadLimit = 64u << 20;              // largest uploaded file
  uint64_t uploadQuotaPerUser = 512ull << 20;  // what one member may keep in one room
  uint64_t uploadQuotaPerRoom = 4ull << 30;    // what all members together may keep in a room
  // Time source for bans, presence and key expiry; null means the system clock.
  std::shared_ptr<tavsrv::Clock> clock;
  // Told the method and path of every request before it is answered, on the
  // answering thread (tests and diagnostics); may be empty.
  std::function<void(const std::string& method, const std::string& path)> requestObserver;
};

// Where config's store is: config.database, else the SQLite file in the data folder.
std::string storeLocation(const ServiceConfig& config);

// The flags of tav-service (and the service part of tav-server).
void defineServiceFlags(tavsrv::Flags& flags);
// Fills config from parsed flags; false with *error on a bad value.
bool serviceConfigFromFlags(const tavsrv::Flags& flags, ServiceConfig* config, std::string* error);

class Service {
public:
  explicit Service(ServiceConfig config);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Opens (and if empty, seeds) the store, binds and starts answering on a
  // thread of its own. False with *error set when any step fails.
  bool start(std::string* error);
  void stop();

  int port() const;
  const ServiceConfig& config() const;
  // The demo accounts, one line each, for the launcher's banner.
  static std::vector<std::string> demoAccountLines();

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The service as a role of the all-in-one launcher; base carries the settings
// that are not part of RoleSettings (threads, password strength, ...).
std::unique_ptr<tavsrv::Role> makeServiceRole(ServiceConfig base = {});

}  // namespace tavsvc

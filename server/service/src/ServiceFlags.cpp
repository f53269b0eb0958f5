#include <algorithm>

#include "service/Service.h"
#include "tavsrv/Database.h"

namespace tavsvc {

using tavsrv::HostPort;
using tavsrv::RolePort;

void defineServiceFlags(tavsrv::Flags& flags) {
  flags.define("host", tavsrv::kLoopback, "address to listen on");
  flags.define("port", "", "port to listen on, 0 for any free port (default: port base + 0)");
  flags.define("data", "tav-service-data",
               "data folder (SQLite store, uploads, downloads; shared by every node)");
  flags.define("database", "",
               "PostgreSQL store shared by several nodes, postgresql://USER@HOST/DB "
               "(default: the SQLite file DATA/service.db)");
  flags.define("port-base", std::to_string(tavsrv::kDefaultPortBase),
               "first port of the port table: service +0, msg +1, mcu +2, convert +3, video +4");
  flags.define("msg-server", "",
               "message server handed to clients (default: host:base+1); several nodes joined "
               "by NATS separated by commas: each client gets a live one");
  flags.defineList("mcu",
                   "MCUs handed to clients, HOST:PORT (repeated, or A,B): each room gets one "
                   "(default: host:base+2)");
  flags.defineList("convert-server", "conversion servers handed to clients (default: host:base+3)");
  flags.defineList("video-server",
                   "video/recording servers handed to clients (default: host:base+4)");
  flags.define("health-interval-ms", "2000",
               "how often each of several MCUs, conversion and video servers is probed");
  flags.define("file-server", "", "file server handed to clients (default: this service)");
  flags.define("internal-token", "",
               "secret the other roles send in X-Tav-Internal-Token "
               "(empty: internal endpoints refused)");
  flags.defineSwitch("no-seed", "do not put demo data into an empty store");
  flags.defineSwitch("no-demo-videos",
                     "with the demo data, do not make courseware videos with ffmpeg");
  flags.define("threads", "0",
               "threads answering ordinary calls, not one per connection (0: twice the "
               "processors and at least 4; on PostgreSQL four times and at least 8)");
  flags.define("connections-per-address", "64", "open connections allowed from one address");
  flags.defineList("trusted-proxy",
                   "addresses of load balancers whose X-Forwarded-For names the client");
  flags.define("head-timeout-ms", "5000",
               "time from a request's first byte until its whole head (and form body) is in");
  flags.define("idle-timeout-ms", "10000", "how long an open connection may wait between requests");
  flags.define("db-connections", "4", "store connections");
  flags.define("pwhash", "interactive", "password hash strength: interactive or min (tests only)");
  flags.define("log-file", "", "also append the log to this file");
  flags.defineSwitch("verbose", "log refusals too");
}

bool serviceConfigFromFlags(const tavsrv::Flags& flags, ServiceConfig* config, std::string* error) {
  long long base = 0, port = 0, threads = 0, connections = 0;
  if (!flags.getInt("port-base", 1, 65535 - 20, &base)) {
    *error = "--port-base must be a port number";
    return false;
  }
  const int b = static_cast<int>(base);
  config->host = flags.get("host");
  if (flags.get("port").empty()) {
    config->port = tavsrv::defaultPort(RolePort::Service, b);
  } else if (flags.getInt("port", 0, 65535, &port)) {
    config->port = static_cast<int>(port);
  } else {
    *error = "--port must be a port number (0: any free port)";
    return false;
  }
  config->dataDir = flags.get("data");
  if (config->dataDir.empty()) {
    *error = "--data must name a folder";
    return false;
  }
  const std::string clientHost = config->host == "0.0.0.0" ? tavsrv::kLoopback : config->host;
  // Several message-server nodes: the first stands for them where one address is asked for.
  std::string msgText = flags.get("msg-server");
  config->msgServers.clear();
  if (msgText.find(',') != std::string::npos) {
    for (size_t start = 0; start <= msgText.size();) {
      const size_t comma = std::min(msgText.find(',', start), msgText.size());
      const auto node = tavsrv::parseHostPort(msgText.substr(start, comma - start));
      if (!node) {
        *error = "--msg-server must be host:port, or several separated by commas";
        return false;
      }
      config->msgServers.push_back(*node);
      start = comma + 1;
    }
    msgText = config->msgServers.front().str();
  }
  if (msgText.empty()) {
    config->msgServer = HostPort{clientHost, tavsrv::defaultPort(RolePort::Msg, b)};
  } else if (const auto parsed = tavsrv::parseHostPort(msgText)) {
    config->msgServer = *parsed;
  } else {
    *error = "--msg-server must be host:port, or several separated by commas";
    return false;
  }
  struct Nodes {
    const char* flag;
    RolePort role;
    std::vector<HostPort>* target;
  };
  const Nodes kinds[] = {{"mcu", RolePort::McuControl, &config->mcus},
                         {"convert-server", RolePort::Convert, &config->convertServers},
                         {"video-server", RolePort::Video, &config->videoServers}};
  for (const auto& kind : kinds) {
    kind.target->clear();
    for (const std::string& text : flags.getList(kind.flag)) {
      const auto parsed = tavsrv::parseHostPort(text);
      if (!parsed) {
        *error = std::string("--") + kind.flag + " must be host:port (repeated, or A,B)";
        return false;
      }
      kind.target->push_back(*parsed);
    }
    if (kind.target->empty())
      kind.target->push_back(HostPort{clientHost, tavsrv::defaultPort(kind.role, b)});
  }
  if (!flags.get("file-server").empty()) {
    const auto parsed = tavsrv::parseHostPort(flags.get("file-server"));
    if (!parsed) {
      *error = "--file-server must be host:port";
      return false;
    }
    config->fileServer = *parsed;
  }
  config->database = flags.get("database");
  if (!config->database.empty() && !tavsrv::isPostgresUrl(config->database)) {
    *error = "--database must be a postgresql:// URL (the SQLite file is DATA/service.db)";
    return false;
  }
  config->internalToken = flags.get("internal-token");
  config->seedDemo = !flags.getSwitch("no-seed");
  config->demoVideos = !flags.getSwitch("no-demo-videos");
  if (!flags.getInt("threads", 0, 1024, &threads) || threads == 1 ||
      !flags.getInt("db-connections", 1, 64, &connections)) {
    *error = "--threads must be 0 (chosen) or 2..1024 and --db-connections 1..64";
    return false;
  }
  config->threads = static_cast<int>(threads);
  config->dbConnections = static_cast<int>(connections);
  long long perAddress = 0, headMs = 0, idleMs = 0;
  if (!flags.getInt("connections-per-address", 1, 100000, &perAddress) ||
      !flags.getInt("head-timeout-ms", 100, 600000, &headMs) ||
      !flags.getInt("idle-timeout-ms", 1000, 3600000, &idleMs)) {
    *error =
        "--connections-per-address must be 1..100000, --head-timeout-ms 100..600000 and "
        "--idle-timeout-ms 1000..3600000";
    return false;
  }
  long long health = 0;
  if (!flags.getInt("health-interval-ms", 100, 600000, &health)) {
    *error = "--health-interval-ms must be 100..600000";
    return false;
  }
  config->healthIntervalMs = static_cast<int>(health);
  config->connectionsPerAddress = static_cast<int>(perAddress);
  config->trustedProxies = flags.getList("trusted-proxy");
  config->headTimeoutMs = static_cast<int>(headMs);
  config->idleTimeoutMs = static_cast<int>(idleMs);
  const std::string strength = flags.get("pwhash");
  if (strength == "interactive") {
    config->passwordStrength = PasswordStrength::Interactive;
  } else if (strength == "min") {
    config->passwordStrength = PasswordStrength::Minimum;
  } else {
    *error = "--pwhash must be interactive or min";
    return false;
  }
  return true;
}

}  // namespace tavsvc

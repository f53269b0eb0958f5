// tav-msgserver: the message server as a program of its own.
#include <algorithm>
#include <string>

#include "msgserver/Server.h"
#include "tavsrv/Program.h"
#include "tavsrv/Signals.h"

namespace {

void define_flags(tavsrv::Flags& flags) {
  flags.define("listen", "",
               "address to listen on, HOST:PORT; port 0 picks one (default: "
               "127.0.0.1:<port base + 1>)");
  flags.define("port-base", std::to_string(tavsrv::kDefaultPortBase),
               "port table base: the message server is base + 1 unless --listen is given");
  flags.define("service-url", "",
               "service that checks and stores chat and says who was removed from which room, "
               "e.g. http://127.0.0.1:27800 (without it chat is relayed unchecked for mutes and "
               "not stored)");
  flags.define("internal-token", "",
               "secret shared with the service: checks the credentials of hellos and goes with "
               "internal calls (without it every hello is refused)");
  flags.define("max-queue-bytes", std::to_string(msgserver::Config().max_queue_bytes),
               "bytes waiting for one connection before it is cut off as a slow consumer");
  flags.define("idle-timeout-ms", std::to_string(msgserver::Config().idle_timeout.count()),
               "a connection that sends nothing this long is dropped");
  flags.define("max-connections", std::to_string(msgserver::Config().max_connections),
               "connections at once (lowered to what ulimit -n allows)");
  flags.define("nats", "",
               "NATS server(s) through which the message servers of several nodes relay every "
               "channel to each other's members: nats://HOST:4222, several of one NATS cluster "
               "separated by commas (without it this server alone holds every channel)");
  flags.define("nats-prefix", msgserver::Config().nats_prefix,
               "first word of the NATS subjects (deployments sharing one NATS keep apart)");
  flags.define("nats-grace-ms", std::to_string(msgserver::Config().nats_grace.count()),
               "while NATS is away no new connection is taken; members are closed after this "
               "long (their clients come back on a node that has NATS)");
  flags.defineSwitch("verbose", "log every connection and every refused send");
}

bool config_from_flags(const tavsrv::Flags& flags, msgserver::Config* config, std::string* error) {
  tavsrv::HostPort listen;
  if (!tavsrv::listenFromFlags(flags, tavsrv::RolePort::Msg, 65534, &listen, error))
    return false;
  config->listen_host = listen.host;
  config->listen_port = static_cast<std::uint16_t>(listen.port);
  long long queue = 0, idle = 0, connections = 0;
  if (!flags.getInt("max-queue-bytes", 1, 1ll << 30, &queue) ||
      !flags.getInt("idle-timeout-ms", 1, 3600000, &idle) ||
      !flags.getInt("max-connections", 1, 1ll << 24, &connections)) {
    *error = "bad --max-queue-bytes, --idle-timeout-ms or --max-connections";
    return false;
  }
  config->max_connections = static_cast<std::size_t>(connections);
  config->max_queue_bytes = static_cast<std::size_t>(queue);
  config->idle_timeout = std::chrono::milliseconds(idle);
  // The service that stores chat also says who was removed from which room.
  config->service_url = config->moderation_url = flags.get("service-url");
  config->internal_token = flags.get("internal-token");
  config->verbose = flags.getSwitch("verbose");
  long long grace = 0;
  if (!flags.getInt("nats-grace-ms", 0, 3600000, &grace)) {
    *error = "bad --nats-grace-ms";
    return false;
  }
  config->nats_grace = std::chrono::milliseconds(grace);
  config->nats_prefix = flags.get("nats-prefix");
  const std::string nats = flags.get("nats");
  for (std::size_t start = 0; start < nats.size();) {
    const std::size_t comma = std::min(nats.find(',', start), nats.size());
    if (comma > start)
      config->nats_urls.push_back(nats.substr(start, comma - start));
    start = comma + 1;
  }
  if (config->nats_prefix.empty() ||
      config->nats_prefix.find_first_of(" .*>\t") != std::string::npos) {
    *error = "--nats-prefix must be one word without '.', '*' or '>'";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  tavsrv::blockTerminationSignals();
  msgserver::Config config;
  if (const auto exit = tavsrv::readProgramFlags(argc, argv, "tav-msgserver",
                                                 "The message server of the live-class system: "
                                                 "relays the room channels and the one-login "
                                                 "channel.",
                                                 define_flags, config_from_flags, &config))
    return *exit;
  msgserver::Server server(config);
  // Scripts and tests wait for the line it prints.
  return tavsrv::runUntilTerminated("tav-msgserver", server,
                                    "tav-msgserver listening on " + config.listen_host);
}

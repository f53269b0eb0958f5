// tav-mcu: the MCU's control side as a program of its own.
#include <functional>

#include "mcu/server.h"
#include "tavsrv/Program.h"
#include "tavsrv/Signals.h"

namespace {

void define_flags(tavsrv::Flags& flags) {
  flags.define("listen", "",
               "address of the main (room join) port, HOST:PORT; port 0 picks one "
               "(default: 127.0.0.1:<port base + 2>)");
  flags.define("port-base", std::to_string(tavsrv::kDefaultPortBase),
               "port table base: the main port is base + 2, media ports start at base + 10");
  flags.define("media-port-base", "",
               "first media UDP port (default: port base + 10); 0 lets the system choose");
  flags.define("media-port-count", "1000", "how many media ports from the first one");
  flags.define("idle-timeout-ms", "30000", "a client silent this long counts as gone");
  flags.define("probe-interval-ms", "30000", "device probe of every member; 0 turns it off");
  flags.define("empty-room-ms", "60000", "a room without members closes after this long");
  flags.define("max-rooms", "256", "rooms open at once");
  flags.define("max-members", "500", "members of one room");
  flags.define("internal-token", "",
               "the secret the service signs room credentials with (the service's "
               "--internal-token); without it every room join and login is refused");
  flags.define("service-url", "",
               "the service whose removals from rooms are followed, e.g. "
               "http://127.0.0.1:27800 (a removed member is cut off and kept out while its ban "
               "lasts); empty: not followed");
  flags.define("login-timeout-ms", "5000",
               "a session that has not sent its join or logged in this long is closed");
  flags.define("max-pending-per-address", "16",
               "sessions not yet joined or logged in from one address, on each port");
  flags.define("log-file", "", "also log to this file");
  flags.defineSwitch("verbose", "log dropped messages too");
}

bool config_from_flags(const tavsrv::Flags& flags, mcu::Config* config, std::string* error) {
  tavsrv::HostPort listen;
  if (!tavsrv::listenFromFlags(flags, tavsrv::RolePort::McuControl, 65535 - 1010, &listen, error))
    return false;
  config->listen_host = listen.host;
  config->listen_port = static_cast<uint16_t>(listen.port);
  long long base = 0, value = 0;
  flags.getInt("port-base", 1, 65535 - 1010, &base);
  config->media_port_base = static_cast<uint16_t>(
      tavsrv::defaultPort(tavsrv::RolePort::McuMediaFirst, static_cast<int>(base)));
  if (!flags.get("media-port-base").empty()) {
    if (!flags.getInt("media-port-base", 0, 65535, &value)) {
      *error = "bad --media-port-base";
      return false;
    }
    config->media_port_base = static_cast<uint16_t>(value);
  }
  struct numeric {
    const char* name;
    long long min, max;
    std::function<void(long long)> set;
  };
  const numeric numbers[] = {
      {"media-port-count", 1, 65535,
       [&](long long v) { config->media_port_count = static_cast<uint16_t>(v); }},
      {"idle-timeout-ms", 1000, 3600000,
       [&](long long v) { config->session_idle_ms = static_cast<uint32_t>(v); }},
      {"probe-interval-ms", 0, 3600000,
       [&](long long v) { config->probe_interval_ms = static_cast<uint32_t>(v); }},
      {"empty-room-ms", 0, 86400000,
       [&](long long v) { config->empty_room_ms = static_cast<uint32_t>(v); }},
      {"max-rooms", 1, 100000, [&](long long v) { config->max_rooms = static_cast<size_t>(v); }},
      {"max-members", 1, 100000,
       [&](long long v) { config->max_members = static_cast<size_t>(v); }},
      {"login-timeout-ms", 100, 600000,
       [&](long long v) { config->login_timeout_ms = static_cast<uint32_t>(v); }},
      {"max-pending-per-address", 1, 100000,
       [&](long long v) { config->max_pending_per_address = static_cast<size_t>(v); }},
  };
  for (const auto& n : numbers) {
    if (!flags.getInt(n.name, n.min, n.max, &value)) {
      *error = std::string("bad --") + n.name;
      return false;
    }
    n.set(value);
  }
  config->internal_token = flags.get("internal-token");
  config->service_url = flags.get("service-url");
  config->verbose = flags.getSwitch("verbose");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  tavsrv::blockTerminationSignals();
  mcu::Config config;
  if (const auto exit = tavsrv::readProgramFlags(argc, argv, "tav-mcu",
                                                 "The MCU of the live-class system (control side).",
                                                 define_flags, config_from_flags, &config))
    return *exit;
  mcu::Server server(config);
  // Scripts and tests wait for the line it prints.
  return tavsrv::runUntilTerminated("tav-mcu", server,
                                    "tav-mcu: listening on " + config.listen_host);
}

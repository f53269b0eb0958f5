// tav-msgserver: the message server as a program of its own.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "msgserver/Server.h"

namespace {

void usage(std::FILE* out) {
  std::fprintf(
      out,
      "usage: tav-msgserver [--listen HOST:PORT] [--port-base N]\n"
      "                     [--service-url URL] [--internal-token TOKEN]\n"
      "                     [--max-queue-bytes N] [--idle-timeout-ms N] [--verbose]\n"
      "  --listen          address to listen on (default 127.0.0.1:27801; port 0 picks one)\n"
      "  --port-base N     listen on port N+1 unless --listen is given\n"
      "  --service-url     service that checks and stores chat and says who was removed\n"
      "                    from which room, e.g. http://127.0.0.1:27800 (without it chat\n"
      "                    is relayed unchecked for mutes and not stored)\n"
      "  --internal-token  secret shared with the service: checks the credentials of\n"
      "                    hellos and goes with internal calls (without it every hello\n"
      "                    is refused)\n");
}

bool parse_number(const char* text, unsigned long max, unsigned long& value) {
  if (!text || !*text)
    return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoul(text, &end, 10);
  return errno == 0 && *end == '\0' && value <= max && text[0] != '-';
}

bool parse_listen(const std::string& text, msgserver::Config& config) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0)
    return false;
  unsigned long port = 0;
  if (!parse_number(text.c_str() + colon + 1, 65535, port))
    return false;
  config.listen_host = text.substr(0, colon);
  config.listen_port = static_cast<std::uint16_t>(port);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  msgserver::Config config;
  bool listen_given = false;
  long port_base = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    unsigned long number = 0;
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--verbose") {
      config.verbose = true;
      continue;
    }
    if (arg != "--listen" && arg != "--port-base" && arg != "--service-url" &&
        arg != "--internal-token" && arg != "--max-queue-bytes" && arg != "--idle-timeout-ms") {
      std::fprintf(stderr, "tav-msgserver: unknown option %s\n", arg.c_str());
      usage(stderr);
      return 2;
    }
    if (!value) {
      std::fprintf(stderr, "tav-msgserver: %s needs a value\n", arg.c_str());
      usage(stderr);
      return 2;
    }
    ++i;
    bool ok = true;
    if (arg == "--listen") {
      ok = parse_listen(value, config);
      listen_given = true;
    } else if (arg == "--port-base") {
      ok = parse_number(value, 65534, number);
      port_base = static_cast<long>(number);
    } else if (arg == "--service-url") {
      config.service_url = value;
      config.moderation_url = value;  // and says who was removed from which room
    } else if (arg == "--internal-token") {
      config.internal_token = value;
    } else if (arg == "--max-queue-bytes") {
      ok = parse_number(value, 1ul << 30, number) && number > 0;
      config.max_queue_bytes = number;
    } else {  // --idle-timeout-ms
      ok = parse_number(value, 3600000, number) && number > 0;
      config.idle_timeout = std::chrono::milliseconds(number);
    }
    if (!ok) {
      std::fprintf(stderr, "tav-msgserver: bad value for %s: %s\n", arg.c_str(), value);
      return 2;
    }
  }
  if (port_base >= 0 && !listen_given)
    config.listen_port = static_cast<std::uint16_t>(port_base + 1);

  // Wait for SIGINT/SIGTERM synchronously; block them before any thread starts
  // so that every thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  msgserver::Server server(config);
  const std::uint16_t port = server.start();
  if (port == 0) {
    std::fprintf(stderr, "tav-msgserver: %s\n", server.error().c_str());
    return 1;
  }
  std::printf("tav-msgserver listening on %s:%u\n", config.listen_host.c_str(),
              static_cast<unsigned>(port));
  std::fflush(stdout);

  int received = 0;
  sigwait(&signals, &received);
  std::fprintf(stderr, "tav-msgserver: signal %d, stopping\n", received);
  server.stop();
  return 0;
}

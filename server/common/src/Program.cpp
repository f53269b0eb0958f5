#include "tavsrv/Program.h"

#include <cstdio>
#include <iostream>

#include "tavsrv/Log.h"
#include "tavsrv/Signals.h"

namespace tavsrv {

std::optional<int> readProgramFlags(
    int argc, const char* const* argv, const std::string& program, const std::string& summary,
    const std::function<void(Flags&)>& define,
    const std::function<bool(const Flags&, std::string*)>& configure, const std::string& more) {
  Flags flags;
  define(flags);
  std::string error;
  if (!flags.parse(argc, argv, &error)) {
    std::cerr << program << ": " << error << "\n(try --help)\n";
    return 2;
  }
  if (flags.helpRequested()) {
    std::cout << flags.usage(program, summary) << more;
    return 0;
  }
  if (!configure(flags, &error)) {
    std::cerr << program << ": " << error << "\n";
    return 2;
  }
  if (flags.getSwitch("verbose"))
    setLogLevel(LogLevel::Debug);
  const std::string file = flags.get("log-file");
  if (!file.empty() && !setLogFile(file)) {
    std::cerr << program << ": cannot open log file " << file << "\n";
    return 2;
  }
  return std::nullopt;
}

bool listenFromFlags(const Flags& flags, RolePort role, int maxBase, HostPort* listen,
                     std::string* error) {
  long long base = 0;
  if (!flags.getInt("port-base", 1, maxBase, &base)) {
    *error = "bad --port-base";
    return false;
  }
  *listen = HostPort{kLoopback, defaultPort(role, static_cast<int>(base))};
  if (flags.get("listen").empty())
    return true;
  const auto given = parseHostPort(flags.get("listen"), true);
  if (!given) {
    *error = "bad --listen (HOST:PORT)";
    return false;
  }
  *listen = *given;
  return true;
}

int runUntilTerminated(const std::string& program,
                       const std::function<std::optional<std::string>(std::string* error)>& start,
                       const std::function<void()>& stop) {
  std::string error;
  const std::optional<std::string> ready = start(&error);
  if (!ready) {
    std::cerr << program << ": " << error << "\n";
    return 1;
  }
  std::fputs(ready->c_str(), stdout);
  std::fflush(stdout);
  const int signal = waitForTerminationSignal();
  logInfo("signal " + std::to_string(signal) + ": stopping");
  stop();
  return 0;
}

}  // namespace tavsrv

// What every server program's main does: read its flags, set up the log, listen where the
// port table or --listen says, and run until Ctrl-C or SIGTERM.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "tavsrv/Flags.h"
#include "tavsrv/HostPort.h"

namespace tavsrv {

// Reads the command line: the flags `define` declares (also from --config FILE), answered with
// the usage on --help (and `more` after the flags); then `configure` takes what it needs of
// them, and --verbose (debug lines) and --log-file (a copy of the log) are applied where the
// program defines them. The exit code main returns at once (0 after the usage, 2 after saying
// what is wrong), or nothing to go on.
std::optional<int> readProgramFlags(
    int argc, const char* const* argv, const std::string& program, const std::string& summary,
    const std::function<void(Flags&)>& define,
    const std::function<bool(const Flags&, std::string*)>& configure,
    const std::string& more = std::string());

// The same for a program whose config is made by a function of the flags.
template <class Config>
std::optional<int> readProgramFlags(int argc, const char* const* argv, const std::string& program,
                                    const std::string& summary, void (*define)(Flags&),
                                    bool (*configure)(const Flags&, Config*, std::string*),
                                    Config* config) {
  return readProgramFlags(
      argc, argv, program, summary, define,
      [&](const Flags& flags, std::string* error) { return configure(flags, config, error); });
}

// --listen HOST:PORT (port 0: any free port) when given, else loopback at the role's port of
// --port-base, which must lie in 1..maxBase. False with *error naming the bad flag.
bool listenFromFlags(const Flags& flags, RolePort role, int maxBase, HostPort* listen,
                     std::string* error);

// The ending every server program shares. `start` starts the server and returns what to print
// on stdout once it serves (scripts and tests wait for it), or nothing with *error set, which is
// printed as "<program>: <error>" (exit code 1). Then waits for SIGINT or SIGTERM, logs it and
// calls `stop`. Returns main's exit code; blockTerminationSignals() must have come first.
int runUntilTerminated(const std::string& program,
                       const std::function<std::optional<std::string>(std::string* error)>& start,
                       const std::function<void()>& stop);

// The same for a server whose start() returns the port it listens on (0 on failure, error()
// says why) and that has stop(): prints "<listening>:<port>".
template <class PortServer>
int runUntilTerminated(const std::string& program, PortServer& server,
                       const std::string& listening) {
  return runUntilTerminated(
      program,
      [&](std::string* error) -> std::optional<std::string> {
        const auto port = server.start();
        if (port == 0) {
          *error = server.error();
          return std::nullopt;
        }
        return listening + ":" + std::to_string(port) + "\n";
      },
      [&] { server.stop(); });
}

}  // namespace tavsrv

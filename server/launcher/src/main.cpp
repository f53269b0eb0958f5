// tav-server: runs every server role of the live-class system on this machine,
// with a demo data set in a data folder.
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "Launcher.h"
#include "RoleRegistry.h"
#include "tavsrv/Flags.h"
#include "tavsrv/Log.h"
#include "tavsrv/Signals.h"

namespace {
std::string defaultDataDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg)
    return std::string(xdg) + "/TavServerDemo";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share/TavServerDemo";
}
}  // namespace

int main(int argc, char** argv) {
  tavsrv::blockTerminationSignals();
  tavsrv::Flags flags;
  flags.define("data", defaultDataDir(), "data folder (stores, uploads, endpoints.json)");
  flags.define("roles", "", "roles to start, e.g. service,msg (default: every role in this build)");
  flags.define("port-base", std::to_string(tavsrv::kDefaultPortBase),
               "first port: service +0, msg +1, mcu +2, convert +3, video +4");
  flags.defineSwitch("no-seed", "do not put demo data into an empty store");
  flags.defineSwitch("no-demo-videos",
                     "with the demo data, do not make courseware videos with ffmpeg");
  flags.define("log-file", "", "also append the log to this file");
  flags.defineSwitch("verbose", "log refusals too");
  std::string error;
  if (!flags.parse(argc, argv, &error)) {
    std::cerr << "tav-server: " << error << "\n(try --help)\n";
    return 2;
  }
  if (flags.helpRequested()) {
    std::string roles;
    for (const auto& role : tavlaunch::knownRoles())
      roles +=
          "  " + role.name + ": " + role.what + (role.make ? "" : " (not in this build)") + "\n";
    std::cout << flags.usage("tav-server", "Runs the server roles on this machine.") << "\nroles:\n"
              << roles;
    return 0;
  }
  tavlaunch::LaunchOptions options;
  options.dataDir = flags.get("data");
  options.seedDemo = !flags.getSwitch("no-seed");
  options.demoMedia = !flags.getSwitch("no-demo-videos");
  long long base = 0;
  if (!flags.getInt("port-base", 1, 65535 - 20, &base)) {
    std::cerr << "tav-server: --port-base must be a port number\n";
    return 2;
  }
  options.portBase = static_cast<int>(base);
  if (!flags.get("roles").empty() &&
      !tavlaunch::parseRoleList(flags.get("roles"), &options.roles, &error)) {
    std::cerr << "tav-server: " << error << "\n";
    return 2;
  }
  if (flags.getSwitch("verbose"))
    tavsrv::setLogLevel(tavsrv::LogLevel::Debug);
  if (!flags.get("log-file").empty() && !tavsrv::setLogFile(flags.get("log-file"))) {
    std::cerr << "tav-server: cannot open log file " << flags.get("log-file") << "\n";
    return 2;
  }

  tavlaunch::Launcher launcher;
  std::vector<std::string> notes;
  if (!launcher.start(options, &error, &notes)) {
    for (const auto& note : notes)
      std::cerr << "tav-server: " << note << "\n";
    std::cerr << "tav-server: " << error << "\n";
    return 1;
  }
  std::printf("tav-server: data folder %s\n", options.dataDir.c_str());
  for (const auto& role : launcher.running())
    std::printf("  %-8s %s\n", role.name.c_str(), role.endpoint.str().c_str());
  for (const auto& note : notes)
    std::printf("  %s\n", note.c_str());
  std::printf("  addresses written to %s\n", launcher.endpointsFile().c_str());
  std::printf("demo accounts:\n");
  for (const auto& line : launcher.banner())
    std::printf("  %s\n", line.c_str());
  std::printf("tav-server: running; Ctrl-C stops.\n");
  std::fflush(stdout);

  const int signal = tavsrv::waitForTerminationSignal();
  tavsrv::logInfo("signal " + std::to_string(signal) + ": stopping");
  launcher.stop();
  std::printf("tav-server: stopped\n");
  return 0;
}

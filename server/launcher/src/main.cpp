// tav-server: runs every server role of the live-class system on this machine,
// with a demo data set in a data folder.
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "Launcher.h"
#include "RoleRegistry.h"
#include "tavsrv/Program.h"
#include "tavsrv/Signals.h"

namespace {
std::string padded(std::string text, std::size_t width) {
  if (text.size() < width)
    text.append(width - text.size(), ' ');
  return text;
}

std::string defaultDataDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg)
    return std::string(xdg) + "/TavServerDemo";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share/TavServerDemo";
}

void defineFlags(tavsrv::Flags& flags) {
  flags.define("data", defaultDataDir(), "data folder (stores, uploads, endpoints.json)");
  flags.define("roles", "", "roles to start, e.g. service,msg (default: every role in this build)");
  flags.define("port-base", std::to_string(tavsrv::kDefaultPortBase),
               "first port: service +0, msg +1, mcu +2, convert +3, video +4");
  flags.defineSwitch("no-seed", "do not put demo data into an empty store");
  flags.defineSwitch("no-demo-videos",
                     "with the demo data, do not make courseware videos with ffmpeg");
  flags.defineSwitch("rotate-internal-key",
                     "make a new internal key: credentials issued before stop working");
  flags.define("log-file", "", "also append the log to this file");
  flags.defineSwitch("verbose", "log refusals too");
}

bool optionsFromFlags(const tavsrv::Flags& flags, tavlaunch::LaunchOptions* options,
                      std::string* error) {
  options->dataDir = flags.get("data");
  options->seedDemo = !flags.getSwitch("no-seed");
  options->demoMedia = !flags.getSwitch("no-demo-videos");
  options->rotateInternalKey = flags.getSwitch("rotate-internal-key");
  long long base = 0;
  if (!flags.getInt("port-base", 1, 65535 - 20, &base)) {
    *error = "--port-base must be a port number";
    return false;
  }
  options->portBase = static_cast<int>(base);
  return flags.get("roles").empty() ||
         tavlaunch::parseRoleList(flags.get("roles"), &options->roles, error);
}

}  // namespace

int main(int argc, char** argv) {
  tavsrv::blockTerminationSignals();
  std::string roles;
  for (const auto& role : tavlaunch::knownRoles())
    roles += "  " + role.name + ": " + role.what + (role.make ? "" : " (not in this build)") + "\n";
  tavlaunch::LaunchOptions options;
  if (const auto exit = tavsrv::readProgramFlags(
          argc, argv, "tav-server", "Runs the server roles on this machine.", defineFlags,
          [&](const tavsrv::Flags& flags, std::string* error) {
            return optionsFromFlags(flags, &options, error);
          },
          "\nroles:\n" + roles))
    return *exit;

  tavlaunch::Launcher launcher;
  return tavsrv::runUntilTerminated(
      "tav-server",
      [&](std::string* why) -> std::optional<std::string> {
        std::vector<std::string> notes;
        if (!launcher.start(options, why, &notes)) {
          for (const auto& note : notes)
            std::cerr << "tav-server: " << note << "\n";
          return std::nullopt;
        }
        std::string banner = "tav-server: data folder " + options.dataDir + "\n";
        for (const auto& role : launcher.running())
          banner += "  " + padded(role.name, 8) + " " + role.endpoint.str() + "\n";
        for (const auto& note : notes)
          banner += "  " + note + "\n";
        banner += "  addresses written to " + launcher.endpointsFile() + "\ndemo accounts:\n";
        for (const auto& line : launcher.banner())
          banner += "  " + line + "\n";
        return banner + "tav-server: running; Ctrl-C stops.\n";
      },
      [&] {
        launcher.stop();
        std::printf("tav-server: stopped\n");
      });
}

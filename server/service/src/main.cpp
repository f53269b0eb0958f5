// tav-service: the HTTP JSON service on its own.
#include <string>

#include "service/Publish.h"
#include "service/Service.h"
#include "tavsrv/Program.h"
#include "tavsrv/Signals.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "publish")
    return tavsvc::publishCommand(argc - 1, argv + 1);
  tavsrv::blockTerminationSignals();
  tavsvc::ServiceConfig config;
  if (const auto exit = tavsrv::readProgramFlags(
          argc, argv, "tav-service", "The HTTP JSON service of the live-class system.",
          tavsvc::defineServiceFlags, tavsvc::serviceConfigFromFlags, &config))
    return *exit;
  tavsvc::Service service(config);
  return tavsrv::runUntilTerminated(
      "tav-service",
      [&](std::string* why) -> std::optional<std::string> {
        if (!service.start(why))
          return std::nullopt;
        // Scripts and tests wait for this line.
        return "tav-service: listening on " + config.host + ":" + std::to_string(service.port()) +
               "\n";
      },
      [&] { service.stop(); });
}

// tav-service: the HTTP JSON service on its own.
#include <cstdio>
#include <iostream>
#include <string>

#include "service/Publish.h"
#include "service/Service.h"
#include "tavsrv/Log.h"
#include "tavsrv/Signals.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "publish")
    return tavsvc::publishCommand(argc - 1, argv + 1);
  tavsrv::blockTerminationSignals();
  tavsrv::Flags flags;
  tavsvc::defineServiceFlags(flags);
  std::string error;
  if (!flags.parse(argc, argv, &error)) {
    std::cerr << "tav-service: " << error << "\n(try --help)\n";
    return 2;
  }
  if (flags.helpRequested()) {
    std::cout << flags.usage("tav-service", "The HTTP JSON service of the live-class system.");
    return 0;
  }
  tavsvc::ServiceConfig config;
  if (!tavsvc::serviceConfigFromFlags(flags, &config, &error)) {
    std::cerr << "tav-service: " << error << "\n";
    return 2;
  }
  if (flags.getSwitch("verbose"))
    tavsrv::setLogLevel(tavsrv::LogLevel::Debug);
  if (!flags.get("log-file").empty() && !tavsrv::setLogFile(flags.get("log-file"))) {
    std::cerr << "tav-service: cannot open log file " << flags.get("log-file") << "\n";
    return 2;
  }
  tavsvc::Service service(config);
  if (!service.start(&error)) {
    std::cerr << "tav-service: " << error << "\n";
    return 1;
  }
  // Scripts and tests wait for this line.
  std::printf("tav-service: listening on %s:%d\n", config.host.c_str(), service.port());
  std::fflush(stdout);
  const int signal = tavsrv::waitForTerminationSignal();
  tavsrv::logInfo("signal " + std::to_string(signal) + ": stopping");
  service.stop();
  return 0;
}

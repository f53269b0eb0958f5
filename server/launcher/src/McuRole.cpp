// The MCU as a launcher role: its control port from the endpoint table, its
// media ports just above it; it follows the service's removals from rooms.
#include "RoleFactories.h"
#include "ServerRole.h"
#include "mcu/server.h"

namespace tavlaunch {

std::unique_ptr<tavsrv::Role> makeMcuRole() {
  return std::make_unique<ServerRole<mcu::Server, mcu::Config>>(
      "mcu", [](const tavsrv::RoleSettings& settings, mcu::Config& config) {
        // Credentials the service signs with the same token open rooms and let logins in.
        config.internal_token = settings.internalToken;
        const auto service = settings.endpoints.find("service");
        if (service != settings.endpoints.end())
          config.service_url = "http://" + service->second.str();
        if (config.listen_port > 0)
          config.media_port_base = static_cast<std::uint16_t>(config.listen_port + 8);
      });
}

}  // namespace tavlaunch

// The message server as a launcher role; its chat messages go to the service
// started before it, with the launcher's internal token, and it follows that
// service's removals from rooms.
#include <algorithm>

#include "RoleFactories.h"
#include "ServerRole.h"
#include "msgserver/Server.h"

namespace tavlaunch {

std::unique_ptr<tavsrv::Role> makeMsgServerRole() {
  return std::make_unique<ServerRole<msgserver::Server, msgserver::Config>>(
      "msg", [](const tavsrv::RoleSettings& settings, msgserver::Config& config) {
        const auto service = settings.endpoints.find("service");
        if (service != settings.endpoints.end())
          config.service_url = config.moderation_url = "http://" + service->second.str();
        config.internal_token = settings.internalToken;
        if (settings.maxConnections > 0)
          config.max_connections = std::min(config.max_connections, settings.maxConnections);
      });
}

}  // namespace tavlaunch

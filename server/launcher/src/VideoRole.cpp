// The video server as a launcher role: its port from the endpoint table, its uploads and
// renditions below the launcher's data folder; it believes the credentials the service
// signs with the launcher's token and registers courseware with the service it started.
#include "RoleFactories.h"
#include "ServerRole.h"
#include "video/Server.h"

namespace tavlaunch {

std::unique_ptr<tavsrv::Role> makeVideoRole() {
  return std::make_unique<ServerRole<video::Server, video::Config>>(
      "video", [](const tavsrv::RoleSettings& settings, video::Config& config) {
        config.internal_token = settings.internalToken;
        config.data_dir = settings.dataDir + "/video";
        const auto service = settings.endpoints.find("service");
        if (service != settings.endpoints.end())
          config.service_url = "http://" + service->second.str();
      });
}

}  // namespace tavlaunch

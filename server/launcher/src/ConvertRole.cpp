// The conversion server as a launcher role: its port from the endpoint table, its jobs
// below the launcher's data folder; it believes the credentials the service signs with
// the launcher's token.
#include "RoleFactories.h"
#include "ServerRole.h"
#include "convert/Server.h"

namespace tavlaunch {

std::unique_ptr<tavsrv::Role> makeConvertRole() {
  return std::make_unique<ServerRole<convert::Server, convert::Config>>(
      "convert", [](const tavsrv::RoleSettings& settings, convert::Config& config) {
        config.internal_token = settings.internalToken;
        config.data_dir = settings.dataDir + "/convert";
      });
}

}  // namespace tavlaunch

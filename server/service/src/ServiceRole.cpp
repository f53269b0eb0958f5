#include <algorithm>
#include <filesystem>

#include "service/Service.h"

namespace tavsvc {

namespace {
class ServiceRole : public tavsrv::Role {
public:
  explicit ServiceRole(ServiceConfig base) : base_(std::move(base)) {}
  ~ServiceRole() override { stop(); }

  std::string name() const override { return "service"; }

  bool start(const tavsrv::RoleSettings& settings, std::string* error) override {
    ServiceConfig config = base_;
    const auto endpoint = [&](const char* role, tavsrv::HostPort* target) {
      auto found = settings.endpoints.find(role);
      if (found != settings.endpoints.end())
        *target = found->second;
    };
    tavsrv::HostPort self{config.host, config.port};
    endpoint("service", &self);
    config.host = self.host;
    config.port = self.port;
    endpoint("msg", &config.msgServer);
    const auto only = [&](const char* role, std::vector<tavsrv::HostPort>* target) {
      auto found = settings.endpoints.find(role);
      if (found != settings.endpoints.end())
        *target = {found->second};
    };
    only("mcu", &config.mcus);
    only("convert", &config.convertServers);
    only("video", &config.videoServers);
    config.dataDir = (std::filesystem::path(settings.dataDir) / "service").string();
    config.internalToken = settings.internalToken;
    config.seedDemo = settings.seedDemo;
    config.demoVideos = settings.demoMedia;
    if (settings.maxConnections > 0)
      config.maxConnections = static_cast<int>(
          std::min<size_t>(static_cast<size_t>(config.maxConnections), settings.maxConnections));
    service_ = std::make_unique<Service>(config);
    if (!service_->start(error)) {
      service_.reset();
      return false;
    }
    return true;
  }

  tavsrv::HostPort endpoint() const override {
    if (!service_)
      return {};
    return tavsrv::HostPort{service_->config().host, service_->port()};
  }

  std::vector<std::string> banner() const override { return Service::demoAccountLines(); }

  void stop() override {
    if (service_)
      service_->stop();
    service_.reset();
  }

private:
  ServiceConfig base_;
  std::unique_ptr<Service> service_;
};
}  // namespace

std::unique_ptr<tavsrv::Role> makeServiceRole(ServiceConfig base) {
  return std::make_unique<ServiceRole>(std::move(base));
}

}  // namespace tavsvc

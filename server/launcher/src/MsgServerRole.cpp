// The message server as a launcher role; its chat messages go to the service
// started before it, with the launcher's internal token.
#include "RoleFactories.h"
#include "msgserver/server.h"

namespace tavlaunch {

namespace {
class MsgServerRole : public tavsrv::Role {
public:
  ~MsgServerRole() override { stop(); }
  std::string name() const override { return "msg"; }

  bool start(const tavsrv::RoleSettings& settings, std::string* error) override {
    msgserver::Config config;
    const auto self = settings.endpoints.find("msg");
    if (self != settings.endpoints.end()) {
      config.listen_host = self->second.host;
      config.listen_port = static_cast<std::uint16_t>(self->second.port);
    }
    const auto service = settings.endpoints.find("service");
    if (service != settings.endpoints.end())
      config.service_url = "http://" + service->second.str();
    config.internal_token = settings.internalToken;
    host_ = config.listen_host;
    server_ = std::make_unique<msgserver::Server>(config);
    port_ = server_->start();
    if (port_ == 0) {
      *error = server_->error();
      server_.reset();
      return false;
    }
    return true;
  }

  tavsrv::HostPort endpoint() const override { return tavsrv::HostPort{host_, port_}; }

  void stop() override {
    if (server_)
      server_->stop();
    server_.reset();
  }

private:
  std::unique_ptr<msgserver::Server> server_;
  std::string host_;
  int port_ = 0;
};
}  // namespace

std::unique_ptr<tavsrv::Role> makeMsgServerRole() {
  return std::make_unique<MsgServerRole>();
}

}  // namespace tavlaunch

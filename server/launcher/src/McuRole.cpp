// The MCU as a launcher role: its control port from the endpoint table, its
// media ports just above it.
#include "RoleFactories.h"
#include "mcu/server.h"

namespace tavlaunch {

namespace {
class McuRole : public tavsrv::Role {
public:
  ~McuRole() override { stop(); }
  std::string name() const override { return "mcu"; }

  bool start(const tavsrv::RoleSettings& settings, std::string* error) override {
    mcu::Config config;
    const auto self = settings.endpoints.find("mcu");
    if (self != settings.endpoints.end()) {
      config.listen_host = self->second.host;
      config.listen_port = static_cast<std::uint16_t>(self->second.port);
      if (self->second.port > 0)
        config.media_port_base = static_cast<std::uint16_t>(self->second.port + 8);
    }
    host_ = config.listen_host;
    server_ = std::make_unique<mcu::Server>(config);
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
  std::unique_ptr<mcu::Server> server_;
  std::string host_;
  int port_ = 0;
};
}  // namespace

std::unique_ptr<tavsrv::Role> makeMcuRole() {
  return std::make_unique<McuRole>();
}

}  // namespace tavlaunch

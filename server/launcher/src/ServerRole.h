// A server library as a launcher role: its Config (with listen_host and
// listen_port) is filled from the launcher's settings, and its Server's
// start() returns the bound port or 0 with error().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tavsrv/Role.h"

namespace tavlaunch {

template <typename Server, typename Config>
class ServerRole : public tavsrv::Role {
public:
  using Configure = std::function<void(const tavsrv::RoleSettings&, Config&)>;

  ServerRole(std::string name, Configure configure)
      : name_(std::move(name)), configure_(std::move(configure)) {}
  ~ServerRole() override { stop(); }

  std::string name() const override { return name_; }

  bool start(const tavsrv::RoleSettings& settings, std::string* error) override {
    Config config;
    const auto self = settings.endpoints.find(name_);
    if (self != settings.endpoints.end()) {
      config.listen_host = self->second.host;
      config.listen_port = static_cast<std::uint16_t>(self->second.port);
    }
    if (configure_)
      configure_(settings, config);
    host_ = config.listen_host;
    server_ = std::make_unique<Server>(config);
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
  std::string name_;
  Configure configure_;
  std::unique_ptr<Server> server_;
  std::string host_;
  int port_ = 0;
};

}  // namespace tavlaunch

#include "msgserver/Server.h"

#include "Relay.h"
#include "tavsrv/Log.h"

namespace msgserver {

class Server::Impl : public Relay {
public:
  using Relay::Relay;
};

Server::Server(Config config) : config_(std::move(config)) {}

Server::~Server() {
  stop();
}

std::uint16_t Server::start() {
  if (impl_ && impl_->port() != 0)
    return impl_->port();
  error_.clear();
  auto impl = std::make_unique<Impl>(config_);
  const std::uint16_t port = impl->start(error_);
  if (port == 0) {
    tavsrv::logWarn("msgserver: " + error_);
    return 0;
  }
  impl_ = std::move(impl);
  tavsrv::logInfo("msgserver: listening on " + config_.listen_host + ":" + std::to_string(port) +
                  (config_.service_url.empty()
                       ? std::string(", no service: chat is neither stored nor checked for mutes")
                       : ", chat checked and stored by " + config_.service_url));
  if (config_.internal_token.empty())
    tavsrv::logWarn(
        "msgserver: no internal token: no credential can be checked, so every hello is refused");
  return port;
}

void Server::stop() {
  if (impl_)
    impl_->stop();
}

std::uint16_t Server::port() const {
  return impl_ ? impl_->port() : 0;
}

std::size_t Server::max_connections() const {
  return impl_ ? impl_->max_connections() : 0;
}

const std::string& Server::error() const {
  return error_;
}

Stats Server::stats() const {
  return impl_ ? impl_->stats() : Stats{};
}

}  // namespace msgserver

// What every request handler of the service shares.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "LoginThrottle.h"
#include "MsgServerChoice.h"
#include "NodeHealth.h"
#include "Passwords.h"
#include "Presence.h"
#include "RemovalFeed.h"
#include "ReportBudget.h"
#include "UploadReservations.h"
#include "service/Service.h"
#include "tavsrv/Database.h"

namespace tavsvc {

struct Context {
  ServiceConfig config;
  std::shared_ptr<tavsrv::Clock> clock;
  std::unique_ptr<tavsrv::ConnectionPool> pool;
  std::unique_ptr<PasswordHasher> hasher;
  Presence presence;
  RemovalFeed removals;  // followed by the message server and the MCU
  LoginThrottle loginThrottle{"login"};
  LoginThrottle codeThrottle{"code"};  // wrong codes of private rooms, per user and room
  UploadReservations uploads;
  NodeHealth health;  // of the MCUs, conversion and video servers
  ReportBudget reportBudget;
  std::string uploadsDir;    // files served below uds/upload/
  std::string downloadsDir;  // installers served below download/
  tavsrv::HostPort self;     // the address actually bound
  // With several message-server nodes: which one is live for whom.
  std::unique_ptr<MsgServerChoice> msgServers;

  // Verified against when an account name is unknown, so that answer takes as
  // long as a wrong password and does not reveal which names exist.
  std::once_flag dummyHashOnce;
  std::string dummyHash;

  int64_t now() const { return clock->nowMs(); }
  // The message server handed out for a room's channel (key: the room) or
  // the lobby's one-login channel (key: the user).
  tavsrv::HostPort chatServer(uint32_t key) const {
    return msgServers ? msgServers->pick(key) : config.msgServer;
  }
  // The file service handed out to clients: the configured one, else this
  // service (on loopback when it listens on every address; set --file-server
  // for clients on other machines).
  tavsrv::HostPort fileServer() const {
    if (!config.fileServer.host.empty())
      return config.fileServer;
    if (self.host == "0.0.0.0" || self.host == "::")
      return tavsrv::HostPort{tavsrv::kLoopback, self.port};
    return self;
  }
};

}  // namespace tavsvc

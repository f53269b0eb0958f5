// One server role (service, message server, MCU, conversion, video) as the
// all-in-one launcher runs it inside its own process. Each role's library offers
// a factory returning a Role; the launcher starts the roles in order, writes
// their addresses to endpoints.json and stops them in reverse order.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tavsrv/HostPort.h"

namespace tavsrv {

struct RoleSettings {
  // The launcher's data folder; a role keeps its files below dataDir + "/" + name().
  std::string dataDir;
  // Planned address of every role by name ("service", "msg", "mcu", "convert",
  // "video"), so roles can find each other (the message server needs the service).
  std::map<std::string, HostPort> endpoints;
  // Shared secret for role-to-role calls (header X-Tav-Internal-Token).
  std::string internalToken;
  // Put demo data into an empty store, with demo media files (videos) when possible.
  bool seedDemo = true;
  bool demoMedia = true;
  // The connections this role may hold: its share of the process's descriptors
  // (tavsrv/Descriptors.h), so that the roles of one process cannot starve each
  // other; 0: the role's own limit.
  size_t maxConnections = 0;
};

class Role {
public:
  virtual ~Role() = default;
  virtual std::string name() const = 0;
  // Starts serving at settings.endpoints[name()]; returns once the role accepts
  // connections. False with *error set when it cannot start.
  virtual bool start(const RoleSettings& settings, std::string* error) = 0;
  // The address actually served (after start).
  virtual HostPort endpoint() const = 0;
  // Lines the launcher prints once everything runs (accounts, hints).
  virtual std::vector<std::string> banner() const { return {}; }
  // Stops serving and joins the role's threads. Safe to call twice.
  virtual void stop() = 0;
};

}  // namespace tavsrv

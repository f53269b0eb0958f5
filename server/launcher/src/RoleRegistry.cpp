#include "RoleRegistry.h"

#include "RoleFactories.h"
#include "service/Service.h"

namespace tavlaunch {

// A role joins the launcher with one entry here: a factory returning a
// tavsrv::Role (RoleFactories.h), or none while the role is not built yet.
// The service starts first: the others talk to it.
const std::vector<RoleEntry>& knownRoles() {
  static const std::vector<RoleEntry> roles = {
      {"service", tavsrv::RolePort::Service, [] { return tavsvc::makeServiceRole(); },
       "HTTP JSON service, files and web pages"},
      {"msg", tavsrv::RolePort::Msg, makeMsgServerRole, "message server"},
      {"mcu", tavsrv::RolePort::McuControl, makeMcuRole, "media server (MCU)"},
      {"convert", tavsrv::RolePort::Convert, makeConvertRole, "document conversion"},
      {"video", tavsrv::RolePort::Video, makeVideoRole, "video/recording server"},
  };
  return roles;
}

const RoleEntry* findRole(const std::string& name) {
  for (const auto& role : knownRoles())
    if (role.name == name)
      return &role;
  return nullptr;
}

}  // namespace tavlaunch

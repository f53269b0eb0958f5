#include "RoleRegistry.h"

#include "RoleFactories.h"
#include "service/Service.h"

namespace tavlaunch {

// A role joins the launcher with one entry here: a factory returning a
// tavsrv::Role in place of the empty one (see RoleFactories.h and the
// launcher's CMakeLists.txt, which links the role's library when the build has
// it). The service starts first: the others talk to it.
const std::vector<RoleEntry>& knownRoles() {
  static const std::vector<RoleEntry> roles = {
      {"service", tavsrv::RolePort::Service, [] { return tavsvc::makeServiceRole(); },
       "HTTP JSON service, files and web pages"},
#ifdef TAV_LAUNCHER_HAS_MSGSERVER
      {"msg", tavsrv::RolePort::Msg, makeMsgServerRole, "message server"},
#else
      {"msg", tavsrv::RolePort::Msg, nullptr, "message server"},
#endif
#ifdef TAV_LAUNCHER_HAS_MCU
      {"mcu", tavsrv::RolePort::McuControl, makeMcuRole, "media server (MCU)"},
#else
      {"mcu", tavsrv::RolePort::McuControl, nullptr, "media server (MCU)"},
#endif
      {"convert", tavsrv::RolePort::Convert, nullptr, "document conversion"},
      {"video", tavsrv::RolePort::Video, nullptr, "video/recording server"},
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

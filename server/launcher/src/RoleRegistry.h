// The server roles the launcher knows, in start order. A role whose library is
// part of the build has a factory; the others are listed so that asking for them
// gives a clear answer instead of "unknown".
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tavsrv/HostPort.h"
#include "tavsrv/Role.h"

namespace tavlaunch {

struct RoleEntry {
  std::string name;
  tavsrv::RolePort port;
  std::function<std::unique_ptr<tavsrv::Role>()> make;  // empty: not in this build
  std::string what;
};

const std::vector<RoleEntry>& knownRoles();
const RoleEntry* findRole(const std::string& name);

}  // namespace tavlaunch

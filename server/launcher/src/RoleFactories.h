// Factories of the roles that run in the launcher (each adapts the role's own
// server class to tavsrv::Role).
#pragma once

#include <memory>

#include "tavsrv/Role.h"

namespace tavlaunch {

std::unique_ptr<tavsrv::Role> makeMsgServerRole();
std::unique_ptr<tavsrv::Role> makeMcuRole();
std::unique_ptr<tavsrv::Role> makeConvertRole();
std::unique_ptr<tavsrv::Role> makeVideoRole();

}  // namespace tavlaunch

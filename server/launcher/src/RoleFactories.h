// Factories of the roles whose libraries are part of this build (each adapts the
// role's own server class to tavsrv::Role).
#pragma once

#include <memory>

#include "tavsrv/Role.h"

namespace tavlaunch {

#ifdef TAV_LAUNCHER_HAS_MSGSERVER
std::unique_ptr<tavsrv::Role> makeMsgServerRole();
#endif
#ifdef TAV_LAUNCHER_HAS_MCU
std::unique_ptr<tavsrv::Role> makeMcuRole();
#endif

}  // namespace tavlaunch

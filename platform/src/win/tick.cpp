#include "platform/platform.h"

#include <windows.h>

#include <mmsystem.h>

namespace platform {

uint32_t tickMs() {
  return static_cast<uint32_t>(timeGetTime());
}

}  // namespace platform

#include "platform/platform.h"

namespace platform {

std::string executableName(const std::string& baseName) {
#ifdef _WIN32
  return baseName + ".exe";
#else
  return baseName;
#endif
}

}  // namespace platform

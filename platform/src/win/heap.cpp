#include "platform/platform.h"

namespace platform {

// The Windows heap returns large blocks by itself.
void returnFreedMemory() {}

}  // namespace platform

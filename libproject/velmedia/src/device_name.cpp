#include "device_name.h"

#include <cstring>

namespace velmedia_internal {

int copy_device_name(const std::string& name, char* out, size_t size) {
  if (!out || size == 0)
    return -1;
  size_t length = name.size();
  if (length > size - 1) {
    length = size - 1;
    // Back up over continuation bytes (10xxxxxx) to the start of the cut character.
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80)
      --length;
  }
  std::memcpy(out, name.data(), length);
  out[length] = '\0';
  return 0;
}

}  // namespace velmedia_internal

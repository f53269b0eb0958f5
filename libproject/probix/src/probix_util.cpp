#include "probix_util.h"

#include <cstring>

namespace probix_internal {

int copy_name(const char* name, char* out, int size) {
  if (!name || !out || size < 1)
    return -1;
  size_t length = std::strlen(name);
  const auto room = static_cast<size_t>(size) - 1;
  if (length > room) {
    length = room;
    // Back up over continuation bytes (10xxxxxx) so no character is split.
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80)
      --length;
  }
  std::memcpy(out, name, length);
  out[length] = '\0';
  return 0;
}

unsigned short mean_abs_level(const int16_t* samples, size_t count) {
  if (!samples || count == 0)
    return 0;
  uint64_t sum = 0;
  for (size_t i = 0; i < count; ++i) {
    const int value = samples[i];
    sum += static_cast<uint64_t>(value < 0 ? -value : value);
  }
  const uint64_t mean = sum / count;
  return static_cast<unsigned short>(mean > 32767 ? 32767 : mean);
}

}  // namespace probix_internal

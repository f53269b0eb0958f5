// Small pieces of the device tests: name copying and the level meter.
#pragma once

#include <cstddef>
#include <cstdint>

namespace probix_internal {

// Copies the NUL-terminated `name` into `out` (`size` bytes), cut at a UTF-8 character
// boundary when it does not fit. 0 done, -1 for a null buffer or a size below 1.
int copy_name(const char* name, char* out, int size);

// Mean absolute value of `count` 16-bit samples, 0 to 32767 (a full-scale negative block
// reads 32767).
unsigned short mean_abs_level(const int16_t* samples, size_t count);

}  // namespace probix_internal

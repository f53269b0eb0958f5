// Copying device names into the callers' fixed-size buffers.
#pragma once

#include <cstddef>
#include <string>

namespace velmedia_internal {

// Writes `name` into `out` (`size` bytes), NUL-terminated. A name that does not fit is cut at
// a UTF-8 character boundary, so a cut never leaves half a character. 0 done, -1 for a null
// buffer or a zero size.
int copy_device_name(const std::string& name, char* out, size_t size);

}  // namespace velmedia_internal

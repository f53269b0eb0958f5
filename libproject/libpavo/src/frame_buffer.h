// Frame buffers handed to the observer with event 12 and returned with media_ctrl 16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace pavo {

inline uint8_t* frame_alloc(std::size_t bytes) {
  return new (std::nothrow) uint8_t[bytes];
}
inline void frame_free(void* pixels) {
  delete[] static_cast<uint8_t*>(pixels);
}

}  // namespace pavo

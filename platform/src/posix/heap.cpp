#include <malloc.h>

#include "platform/platform.h"

namespace platform {

void returnFreedMemory() {
#ifdef __GLIBC__
  // Buffers from 256 KiB up (video frames, codec pictures) are mapped and
  // unmapped on their own; a fixed threshold also stops glibc from raising it
  // after the first large buffer is freed and then keeping such buffers.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  // A few shared pools instead of one per thread.
  mallopt(M_ARENA_MAX, 2);
#endif
}

}  // namespace platform

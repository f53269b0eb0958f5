#include "velmedia/velmedia.h"

#include <mutex>

#include "media_runtime.h"

namespace {

std::mutex g_init_mutex;
int g_init_count = 0;      // guarded by g_init_mutex
bool g_holds_sdl = false;  // the init count's own SDL reference, guarded by g_init_mutex

}  // namespace

int velmedia_init() {
  std::lock_guard<std::mutex> lock(g_init_mutex);
  if (g_init_count == 0) {
    velmedia_internal::register_ffmpeg_devices();
    // Keeping SDL audio up between device objects spares a driver restart (and a device
    // rescan) each time a camera test or level meter is made. Without it the cameras and the
    // synthetic devices still work, so this is not a failure.
    g_holds_sdl = velmedia_internal::sdl_audio_acquire();
  }
  ++g_init_count;
  return 0;
}

int velmedia_destroy() {
  std::lock_guard<std::mutex> lock(g_init_mutex);
  if (g_init_count == 0)
    return -1;
  if (--g_init_count == 0 && g_holds_sdl) {
    velmedia_internal::sdl_audio_release();
    g_holds_sdl = false;
  }
  return 0;
}

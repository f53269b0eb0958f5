#include "media_runtime.h"

#include <cstdlib>

#include <SDL.h>

extern "C" {
#include <libavdevice/avdevice.h>
}

#include "woblog/woblog.h"

namespace velmedia_internal {
namespace {

std::mutex g_sdl_mutex;
int g_sdl_refs = 0;  // guarded by g_sdl_mutex

}  // namespace

bool env_flag(const char* name) {
  const char* value = std::getenv(name);
  return value && *value && std::string(value) != "0";
}

std::string env_text(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

void register_ffmpeg_devices() {
  static std::once_flag once;
  std::call_once(once, [] { avdevice_register_all(); });
}

std::mutex& sdl_audio_mutex() {
  return g_sdl_mutex;
}

std::mutex& sdl_device_mutex() {
  static std::mutex mutex;
  return mutex;
}

bool sdl_audio_acquire() {
  std::lock_guard<std::mutex> lock(g_sdl_mutex);
  if (g_sdl_refs == 0) {
    // SDL's event subsystem (started with audio) would otherwise take over SIGINT and
    // SIGTERM from the host program.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      qn::log("velmedia: SDL audio unavailable: %s", SDL_GetError());
      return false;
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    qn::log("velmedia: SDL audio driver %s", driver ? driver : "(none)");
  }
  ++g_sdl_refs;
  return true;
}

void sdl_audio_release() {
  std::lock_guard<std::mutex> lock(g_sdl_mutex);
  if (g_sdl_refs <= 0)
    return;
  if (--g_sdl_refs == 0)
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace velmedia_internal

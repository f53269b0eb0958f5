#include "bot_audio.h"

#include <cstdlib>

namespace bot {

int select_audio_device(Libpavo& library, const std::string& which, const std::string& index) {
  const bool microphone = which == "microphone";
  int chosen = -1;
  if (index == "last") {
    chosen = microphone ? library.media_ctrl(media_cmd_device_count,
                                             reinterpret_cast<void*>(media_kind_audio)) -
                              1
                        : library.media_ctrl(media_cmd_speaker_count, nullptr) - 1;
  } else if (!index.empty() && index.find_first_not_of("0123456789") == std::string::npos &&
             index.size() < 6) {
    chosen = std::atoi(index.c_str());
  }
  if (chosen < 0 || chosen > 0xFFFF)
    return -1;
  if (microphone) {
    device_select_t select{media_kind_audio, static_cast<uint16_t>(chosen)};
    return library.media_ctrl(media_cmd_select_device, &select);
  }
  return library.media_ctrl(media_cmd_select_speaker, &chosen);
}

}  // namespace bot

// pavo-bot's audio device commands: which microphone the own audio sender records from and
// which speaker the room's audio plays on.
#pragma once

#include <string>

#include "libpavo/libpavo.h"

namespace bot {

// `which` is "microphone" or "speaker"; `index` a number or "last" (the synthetic microphone
// is listed after the real ones). The library's result; -1 for a bad index.
int select_audio_device(Libpavo& library, const std::string& which, const std::string& index);

}  // namespace bot

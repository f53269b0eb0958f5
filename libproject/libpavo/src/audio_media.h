// The audio path: the own microphone sender and the room's mixed-audio receiver.
#pragma once

#include <cstdint>
#include <memory>

#include "media_seams.h"

namespace pavo {

std::unique_ptr<audio_ctrl> make_audio_sender(int channels, int sample_rate,
                                              uint16_t microphone_index);
std::unique_ptr<media_receiver> make_audio_receiver(const char* ip, uint16_t port, uint32_t own_id,
                                                    const pavo_wire::media_token& token,
                                                    int speaker_index);

}  // namespace pavo

#include "audio_media.h"

#include "pending_media.h"

namespace pavo {

std::unique_ptr<audio_ctrl> make_audio_sender(int, int, uint16_t) {
  return std::make_unique<pending_audio_sender>();
}

std::unique_ptr<media_receiver> make_audio_receiver(const char* ip, uint16_t port, uint32_t,
                                                    int) {
  return std::make_unique<pending_receiver>(ip, port, 0, 2);
}

}  // namespace pavo

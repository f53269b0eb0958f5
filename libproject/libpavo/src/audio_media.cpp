#include "audio_media.h"

#include "audio_rtp_recv.h"
#include "audio_sender.h"

namespace pavo {

std::unique_ptr<audio_ctrl> make_audio_sender(int channels, int sample_rate,
                                              uint16_t microphone_index) {
  return std::make_unique<audio_sender>(channels, sample_rate, microphone_index);
}

std::unique_ptr<media_receiver> make_audio_receiver(const char* ip, uint16_t port, uint32_t own_id,
                                                    const pavo_wire::media_token& token,
                                                    int speaker_index) {
  return std::make_unique<audio_rtp_recv>(
      ip, port, own_id, std::unique_ptr<velaudira>(velaudira::create(speaker_index)), token);
}

}  // namespace pavo

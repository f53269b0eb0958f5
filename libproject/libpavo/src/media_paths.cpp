// The media paths a Libpavo uses unless a test or tool brings its own.
#include "audio_media.h"
#include "media_seams.h"
#include "video_media.h"

namespace pavo {
namespace {

class media_paths : public media_factory {
public:
  std::shared_ptr<video_ctrl> create_camera_sender(sendmsg2ui* ui, uint16_t camera) override {
    return make_camera_sender(ui, camera);
  }
  std::shared_ptr<video_ctrl> create_screen_sender(sendmsg2ui* ui) override {
    return make_screen_sender(ui);
  }
  std::unique_ptr<audio_ctrl> create_audio_sender(int channels, int sample_rate,
                                                  uint16_t microphone) override {
    return make_audio_sender(channels, sample_rate, microphone);
  }
  std::unique_ptr<media_receiver> create_video_receiver(const char* ip, uint16_t port,
                                                        uint32_t own_id,
                                                        const pavo_wire::media_token& token,
                                                        uint32_t remote_id, int kind,
                                                        sendmsg2ui* ui, sendmsg2mcu* mcu) override {
    return make_video_receiver(ip, port, own_id, token, remote_id, kind, ui, mcu);
  }
  std::unique_ptr<media_receiver> create_audio_receiver(const char* ip, uint16_t port,
                                                        uint32_t own_id,
                                                        const pavo_wire::media_token& token,
                                                        int speaker) override {
    return make_audio_receiver(ip, port, own_id, token, speaker);
  }
};

}  // namespace

media_factory& default_media_factory() {
  static media_paths factory;
  return factory;
}

}  // namespace pavo

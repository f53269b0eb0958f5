#include "video_media.h"

#include "pending_media.h"

namespace pavo {

std::shared_ptr<video_ctrl> make_camera_sender(sendmsg2ui*, uint16_t) {
  return std::make_shared<pending_video_sender>("camera");
}

std::shared_ptr<video_ctrl> make_screen_sender(sendmsg2ui*) {
  return std::make_shared<pending_video_sender>("screen");
}

std::unique_ptr<media_receiver> make_video_receiver(const char* ip, uint16_t port, uint32_t,
                                                    uint32_t remote_id, int kind, sendmsg2ui*,
                                                    sendmsg2mcu*) {
  return std::make_unique<pending_receiver>(ip, port, remote_id, kind);
}

}  // namespace pavo

#include "video_media.h"

#include "screen_capture.h"
#include "velvideo_capture.h"
#include "video_rtp_recv.h"

namespace pavo {

std::shared_ptr<video_ctrl> make_camera_sender(sendmsg2ui* ui, uint16_t camera_index) {
  return std::make_shared<velvideo_capture>(ui, camera_index);
}

std::shared_ptr<video_ctrl> make_screen_sender(sendmsg2ui* ui) {
  return std::make_shared<screen_capture>(ui);
}

std::unique_ptr<media_receiver> make_video_receiver(const char* ip, uint16_t port, uint32_t own_id,
                                                    const pavo_wire::media_token& token,
                                                    uint32_t remote_id, int kind, sendmsg2ui* ui,
                                                    sendmsg2mcu*) {
  // A receiver whose socket did not open stays inert in its place (the stream still counts as
  // subscribed, as the control side expects).
  return std::make_unique<video_rtp_recv>(ip, port, own_id, ui, remote_id, kind, token);
}

}  // namespace pavo

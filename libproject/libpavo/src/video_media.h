// The video path: the own camera and screen senders and the receivers of others' video.
#pragma once

#include <cstdint>
#include <memory>

#include "media_seams.h"

namespace pavo {

std::shared_ptr<video_ctrl> make_camera_sender(sendmsg2ui* ui, uint16_t camera_index);
std::shared_ptr<video_ctrl> make_screen_sender(sendmsg2ui* ui);
std::unique_ptr<media_receiver> make_video_receiver(const char* ip, uint16_t port, uint32_t own_id,
                                                    const pavo_wire::media_token& token,
                                                    uint32_t remote_id, int kind, sendmsg2ui* ui,
                                                    sendmsg2mcu* mcu);

}  // namespace pavo

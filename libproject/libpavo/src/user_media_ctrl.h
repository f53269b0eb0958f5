// One remote user's received video streams (kinds 1, 4, 32), each from the UDP port the
// MCU named in message 21. Deleting it stops every receiver.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "media_seams.h"

class user_media_ctrl {
public:
  user_media_ctrl(uint32_t remote_id, uint32_t own_id, sendmsg2ui* ui, sendmsg2mcu* mcu,
                  media_factory& factory)
      : remote_id_(remote_id), own_id_(own_id), ui_(ui), mcu_(mcu), factory_(factory) {}
  ~user_media_ctrl();
  user_media_ctrl(const user_media_ctrl&) = delete;
  user_media_ctrl& operator=(const user_media_ctrl&) = delete;

  // Starts the receiver of `kind` unless one runs. 0 started, -1 present or not made.
  int start_receiver(const char* ip, uint16_t port, int kind);
  // Stops the receiver of `kind`; true when there was one.
  bool stop_receiver(int kind);
  bool has(int kind) const;
  // The kinds with a receiver, or-ed.
  uint32_t kinds() const;

private:
  const uint32_t remote_id_;
  const uint32_t own_id_;
  sendmsg2ui* ui_;
  sendmsg2mcu* mcu_;
  media_factory& factory_;
  mutable std::mutex mutex_;
  std::map<int, std::unique_ptr<media_receiver>> receivers_;
};

// The way the media threads (senders, receivers, level meter) reach the observer. Events are
// dropped while the library is not running, and frames are then freed at once.
#pragma once

#include <cstdint>

#include "libpavo/libpavo.h"

class sendmsg2ui {
public:
  virtual ~sendmsg2ui() = default;
  // on_media_event for the events of the media threads (12 excepted: see deliver_frame).
  virtual void media_event(int event, void* data) = 0;
  // Event 12. `pixels` comes from pavo::frame_alloc and is owned by the library until this
  // call: it is either handed to the observer or freed here.
  virtual void deliver_frame(int width, int height, uint8_t* pixels, uint32_t user_id,
                             int kind) = 0;
  // velmcu2ui::user_net_state.
  virtual void net_state(uint32_t user_id, int state) = 0;
  // The pixel layout frames are made in (pavo_frame_format); read for every frame.
  virtual int frame_format() { return pavo_frame_rgb24; }
};

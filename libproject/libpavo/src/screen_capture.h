// The own screen-share stream (media kind 4): a timer at the share frame rate grabs the
// chosen source (the screen or a window), shows it to the local user (event 12) and queues it
// for the encoding thread. Without a grabber (paused) or for a still share (live 0) each tick
// repeats the last picture.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "screen_overlay.h"
#include "velmedia/velscreen.h"
#include "video_sender_core.h"

namespace pavo {

class screen_capture : public video_sender_core {
public:
  // Makes the grabber for (source, width, height); tests bring their own.
  using grabber_maker = std::function<velscreen*(int source, int width, int height)>;

  explicit screen_capture(sendmsg2ui* ui, grabber_maker make_grabber = {});
  ~screen_capture() override;

  // video_ctrl
  void quality_level(uint32_t level) override;
  int start(const char* ip, uint16_t port, uint32_t ssrc, int max_kbps, int min_kbps) override;
  void stop() override;
  int set_capture_param(int, int, int, int) override { return 0; }
  int restart(int, int, int) override { return -1; }
  void set_source(int32_t source, int32_t live) override;
  void grabber_state(int state) override;

  // For tests: one timer tick now, and whether a grabber exists.
  void tick();
  bool has_grabber();

private:
  int frame_wait_ms() const override { return -1; }
  bool follows_estimate() override { return !has_grabber(); }
  // Lays the whiteboard's layer (event 18) over what the others receive; the local preview
  // stays as grabbed.
  void before_encode(queued_frame& frame) override;
  // Under grab_mutex_: up to three grabs into the last picture. True when one succeeded.
  bool grab_still();
  void start_timer(int period_ms);
  void stop_timer();

  grabber_maker make_grabber_;
  int start_kbps_ = 0;

  std::mutex grab_mutex_;  // the grabber, the source, the last picture
  std::unique_ptr<velscreen> grabber_;
  int32_t source_ = 0, live_ = 1;
  int state_ = 0;
  bool started_ = false;
  std::vector<uint8_t> last_frame_;  // I420; empty until a grab succeeded
  std::vector<uint8_t> work_;

  screen_overlay overlay_;  // encoding thread only

  // The periodic timer: a thread of its own, joined when it stops, so no tick runs after.
  std::mutex timer_mutex_;
  std::condition_variable timer_wake_;
  bool timer_stop_ = false;
  std::thread timer_;
};

}  // namespace pavo

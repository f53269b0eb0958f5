// The own camera stream (media kind 1): captures, shows each picture to the local user
// (event 12), and encodes and sends it through the shared sender core.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "velmedia/velcapture.h"
#include "video_sender_core.h"

namespace pavo {

class velvideo_capture : public video_sender_core, public velcapture_data_callback {
public:
  // Makes the camera object; tests bring their own.
  using camera_maker = std::function<velcapture*()>;

  // silence_ms: how long the camera may deliver nothing before it is opened again (once), and
  // then given up (the camera time-out, event 20).
  velvideo_capture(sendmsg2ui* ui, uint16_t camera_index, camera_maker make_camera = {},
                   int silence_ms = 5000);
  ~velvideo_capture() override;

  // video_ctrl
  void quality_level(uint32_t level) override;
  int start(const char* ip, uint16_t port, uint32_t ssrc, int max_kbps, int min_kbps) override;
  void stop() override;
  int set_capture_param(int width, int height, int fps, int kbps) override;
  int restart(int kbps, int min_kbps, int max_kbps) override;
  void set_source(int32_t, int32_t) override {}
  void grabber_state(int) override {}

  // velcapture_data_callback: one picture, on the camera's thread.
  void on_capture_data(const uint8_t* i420, unsigned length, int width, int height) override;

private:
  int frame_wait_ms() const override { return silence_ms_; }
  bool on_frame_timeout() override;
  // Closes the camera and opens it again as it was started; false when it does not open.
  bool reopen_camera();

  const uint16_t camera_index_;
  const int silence_ms_;
  camera_maker make_camera_;
  int want_width_ = 0, want_height_ = 0, want_fps_ = 0, start_kbps_ = 0;
  int opened_width_ = 0, opened_height_ = 0, opened_fps_ = 0;  // as the camera gave them
  std::string ip_;
  uint16_t port_ = 0;
  std::mutex camera_mutex_;
  std::unique_ptr<velcapture> camera_;
  // Frames are queued only while the encoding thread takes them: after the camera went
  // silent for 5 s the thread is gone, and a camera that comes back must not fill the queue
  // for nobody.
  std::atomic<bool> accepting_{false};
  // Set when the camera was opened again after a silence, cleared by its next picture.
  std::atomic<bool> reopened_{false};
};

}  // namespace pavo

// Stand-ins for media paths that move nothing: each holds its stream's place (kind, address,
// port) and logs what it was asked to do, so that the signalling around it runs end to end.
// Tests use them through pending_media_factory() where no media should flow.
#pragma once

#include "media_seams.h"

namespace pavo {

class pending_video_sender : public video_ctrl {
public:
  explicit pending_video_sender(const char* what) : what_(what) {}
  void retransmit(const uint16_t*, unsigned) override {}
  void bandwidth_feedback(uint32_t) override {}
  void quality_level(uint32_t) override {}
  int start(const char* ip, uint16_t port, uint32_t ssrc, int, int) override;
  void stop() override {}
  int set_capture_param(int, int, int, int) override { return 0; }
  int restart(int, int, int) override { return -1; }
  void set_source(int32_t, int32_t) override {}
  void grabber_state(int) override {}

private:
  const char* what_;
};

class pending_audio_sender : public audio_ctrl {
public:
  int start(const char* ip, uint16_t port, uint32_t own_id) override;
  void stop() override {}
};

class pending_receiver : public media_receiver {
public:
  pending_receiver(const char* ip, uint16_t port, uint32_t user, int kind);
};

}  // namespace pavo

// Stand-ins for the media paths: each holds its stream's place and logs what it was asked
// to do, so that the signalling around it runs end to end.
#include <string>

#include "media_seams.h"
#include "woblog/woblog.h"

namespace pavo {
namespace {

class pending_video_sender : public video_ctrl {
public:
  explicit pending_video_sender(const char* what) : what_(what) {}
  void retransmit(const uint16_t*, unsigned) override {}
  void bandwidth_feedback(uint32_t) override {}
  void quality_level(uint32_t) override {}
  int start(const char* ip, uint16_t port, uint32_t ssrc, int, int) override {
    qn::log("%s sender of %u towards %s:%u: media path not built, holding the stream", what_, ssrc,
            ip, unsigned{port});
    return 0;
  }
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
  int start(const char* ip, uint16_t port, uint32_t own_id) override {
    qn::log("audio sender of %u towards %s:%u: media path not built, holding the stream", own_id,
            ip, unsigned{port});
    return 0;
  }
  void stop() override {}
};

class pending_receiver : public media_receiver {
public:
  pending_receiver(const char* ip, uint16_t port, uint32_t user, int kind) {
    qn::log("receiver of %u kind %d from %s:%u: media path not built, holding the stream", user,
            kind, ip, unsigned{port});
  }
};

class pending_factory : public media_factory {
public:
  std::shared_ptr<video_ctrl> create_camera_sender(sendmsg2ui*, uint16_t) override {
    return std::make_shared<pending_video_sender>("camera");
  }
  std::shared_ptr<video_ctrl> create_screen_sender(sendmsg2ui*) override {
    return std::make_shared<pending_video_sender>("screen");
  }
  std::unique_ptr<audio_ctrl> create_audio_sender(int, int, uint16_t) override {
    return std::make_unique<pending_audio_sender>();
  }
  std::unique_ptr<media_receiver> create_video_receiver(const char* ip, uint16_t port, uint32_t,
                                                        uint32_t remote_id, int kind, sendmsg2ui*,
                                                        sendmsg2mcu*) override {
    return std::make_unique<pending_receiver>(ip, port, remote_id, kind);
  }
  std::unique_ptr<media_receiver> create_audio_receiver(const char* ip, uint16_t port, uint32_t,
                                                        int) override {
    return std::make_unique<pending_receiver>(ip, port, 0, 2);
  }
};

}  // namespace

media_factory& pending_media_factory() {
  static pending_factory factory;
  return factory;
}

}  // namespace pavo

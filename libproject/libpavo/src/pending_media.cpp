#include "pending_media.h"

#include "woblog/woblog.h"

namespace pavo {

int pending_video_sender::start(const char* ip, uint16_t port, uint32_t ssrc, int, int) {
  qn::log("%s sender of %u towards %s:%u: holding the stream, moving no media", what_, ssrc, ip,
          unsigned{port});
  return 0;
}

int pending_audio_sender::start(const char* ip, uint16_t port, uint32_t own_id) {
  qn::log("audio sender of %u towards %s:%u: holding the stream, moving no media", own_id, ip,
          unsigned{port});
  return 0;
}

pending_receiver::pending_receiver(const char* ip, uint16_t port, uint32_t user, int kind) {
  qn::log("receiver of %u kind %d from %s:%u: holding the stream, moving no media", user, kind,
          ip, unsigned{port});
}

namespace {

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
                                                        const pavo_wire::media_token&,
                                                        uint32_t remote_id, int kind, sendmsg2ui*,
                                                        sendmsg2mcu*) override {
    return std::make_unique<pending_receiver>(ip, port, remote_id, kind);
  }
  std::unique_ptr<media_receiver> create_audio_receiver(const char* ip, uint16_t port, uint32_t,
                                                        const pavo_wire::media_token&,
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

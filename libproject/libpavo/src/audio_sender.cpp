#include "audio_sender.h"

#include <cstdio>

#include "woblog/woblog.h"

int audio_sender::start(const char* ip, uint16_t port, uint32_t own_id) {
  if (encoder_)
    return 0;
  encoder_ = velsample_encode_open(channels_, sample_rate_, bitrate, &audio_sender::on_frame,
                                   microphone_index_, this, true);
  if (!encoder_) {
    std::printf("start_capture error\n");
    std::fflush(stdout);
    return -1;
  }
  std::unique_ptr<udp_client> udp(udp_client::create(ip, port));
  if (!udp || udp->open() != 0) {
    qn::log("audio sender: no socket towards %s:%u, capturing without sending", ip ? ip : "",
            unsigned{port});
    udp.reset();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  packetizer_ = std::make_unique<audio_rtp_packetizer>(own_id);
  udp_ = std::move(udp);
  qn::log("audio sender of %u towards %s:%u", own_id, ip ? ip : "", unsigned{port});
  return 0;
}

void audio_sender::stop() {
  if (encoder_) {
    velsample_encode_close(encoder_);  // no frame callback after this
    encoder_ = nullptr;
  }
  std::unique_ptr<udp_client> udp;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    packetizer_.reset();
    udp = std::move(udp_);
  }
}

void audio_sender::on_frame(const uint8_t* data, unsigned length, uint32_t timestamp, void* self) {
  auto* sender = static_cast<audio_sender*>(self);
  std::lock_guard<std::mutex> lock(sender->mutex_);
  if (!sender->packetizer_)
    return;
  const unsigned size = sender->packetizer_->packetize(data, length, timestamp, sender->packet_);
  if (size == 0) {
    qn::log("audio sender: frame of %u bytes does not fit a datagram, dropped", length);
    return;
  }
  if (sender->udp_)
    sender->udp_->send(sender->packet_, size);
}

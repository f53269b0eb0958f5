#include "audio_rtp_recv.h"

#include "wirebytes/byte_order.h"
#include "woblog/woblog.h"

audio_rtp_recv::audio_rtp_recv(const char* ip, uint16_t port, uint32_t own_id,
                               std::unique_ptr<velaudira> player,
                               const pavo_wire::media_token& token)
    : own_id_(own_id), token_(token), player_(std::move(player)) {
  if (!player_) {
    qn::log("audio receiver: no player, staying silent");
    return;
  }
  udp_.reset(udp_client::create(ip, port));
  if (!udp_ || udp_->open() != 0) {
    qn::log("audio receiver: no socket towards %s:%u", ip ? ip : "", unsigned{port});
    udp_.reset();
    return;
  }
  active_ = start() == 0;
}

audio_rtp_recv::~audio_rtp_recv() {
  quit();  // wakes and joins the receive thread
  if (udp_)
    udp_->stop();
  udp_.reset();
  player_.reset();
}

void audio_rtp_recv::send_registration() {
  uint8_t registration[pavo_wire::media_registration_size];
  pavo_wire::write_media_registration(registration, own_id_, token_);
  udp_->send(registration, sizeof registration);
}

void audio_rtp_recv::on_network_data(const uint8_t* data, unsigned length) {
  if (!data || length == 0 || length >= audio_max_datagram)
    return;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (queue_.size() >= max_queued)
      queue_.pop_front();  // the receive thread fell behind: newer sound matters more
    queue_.emplace_back(data, data + length);
  }
  wake_.post();
}

void audio_rtp_recv::run() {
  send_registration();
  if (udp_->start_recv(this) != 0) {
    qn::log("audio receiver: socket does not receive");
    return;
  }
  while (!quit_requested()) {
    const int woken = wake_.wait(register_interval_ms);
    if (quit_requested())
      break;
    if (woken == 1) {
      if (registration_.due())
        send_registration();
      continue;
    }
    if (woken != 0)
      continue;
    std::vector<uint8_t> datagram;
    {
      std::lock_guard<std::mutex> lock(queue_mutex_);
      if (queue_.empty())
        continue;
      datagram = std::move(queue_.front());
      queue_.pop_front();
    }
    registration_.arrived();
    handle(datagram);
  }
}

void audio_rtp_recv::handle(const std::vector<uint8_t>& datagram) {
  audio_frame_ref primary;
  if (!parse_audio_datagram(datagram.data(), static_cast<unsigned>(datagram.size()), &primary,
                            &blocks_)) {
    qn::log("audio receiver: dropped a malformed datagram of %zu bytes", datagram.size());
    return;
  }
  jitter_.insert(primary.seq, primary.timestamp, primary.data, primary.length);
  for (const audio_frame_ref& block : blocks_)
    jitter_.insert(block.seq, block.timestamp, block.data, block.length);
}

void audio_rtp_recv::play_frame(const uint8_t* data, unsigned length) {
  common_data_t frame(data, length);
  player_->play(&frame);
}

void audio_rtp_recv::frames_lost(unsigned count) {
  player_->conceal(count);
}

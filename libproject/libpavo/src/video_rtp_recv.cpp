#include "video_rtp_recv.h"

#include <chrono>

#include "wirebytes/byte_order.h"
#include "woblog/woblog.h"

namespace pavo {

namespace {

constexpr int red_pt = 100, fec_pt = 101;
// Datagrams of this size or more are not ours.
constexpr unsigned max_datagram = 1500;
// Queued datagrams beyond this are dropped (a receiver thread that stalls must not grow
// without bound); retransmission asks for them again.
constexpr std::size_t max_queued = 8192;

}  // namespace

video_rtp_recv::video_rtp_recv(const char* ip, uint16_t port, uint32_t own_id, sendmsg2ui* ui,
                               uint32_t remote_id, int kind, const pavo_wire::media_token& token)
    : own_id_(own_id), token_(token), remote_id_(remote_id), kind_(kind), ui_(ui) {
  decoder_ = std::make_unique<velvideo_decode>(ui, remote_id, kind);
  fec_.reset(received_fec_packet::create(red_pt, fec_pt, kind, &video_rtp_recv::on_media, this));
  udp_.reset(udp_client::create(ip, port));
  if (!fec_ || !udp_ || udp_->open() != 0) {
    qn::log("video receiver of %u kind %d: no socket towards %s:%u", remote_id, kind, ip ? ip : "",
            unsigned{port});
    return;
  }
  running_ = true;
  if (start() != 0) {
    running_ = false;
    qn::log("video receiver of %u kind %d: no thread", remote_id, kind);
  }
}

video_rtp_recv::~video_rtp_recv() {
  running_ = false;
  if (udp_)
    udp_->stop();  // no datagram is handed over after this
  quit();
  if (decoder_)
    decoder_->stop();
}

void video_rtp_recv::on_quit() {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    stopping_ = true;
  }
  queue_changed_.notify_all();
}

void video_rtp_recv::send_registration() {
  uint8_t registration[pavo_wire::media_registration_size];
  pavo_wire::write_media_registration(registration, own_id_, token_);
  udp_->send(registration, sizeof registration);
}

void video_rtp_recv::on_network_data(const uint8_t* data, unsigned length) {
  if (!data || length == 0 || length >= max_datagram)
    return;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (stopping_ || queue_.size() >= max_queued)
      return;
    queue_.emplace_back(data, data + length);
  }
  queue_changed_.notify_one();
}

void video_rtp_recv::run() {
  send_registration();
  if (udp_->start_recv(this) != 0) {
    qn::log("video receiver of %u kind %d: receiving does not start", remote_id_, kind_);
    return;
  }
  while (running_) {
    std::vector<uint8_t> datagram;
    {
      std::unique_lock<std::mutex> lock(queue_mutex_);
      if (!queue_changed_.wait_for(lock, media_registration::period,
                                   [this] { return stopping_ || !queue_.empty(); })) {
        lock.unlock();
        if (registration_.due())
          send_registration();
        continue;
      }
      if (stopping_)
        return;
      datagram = std::move(queue_.front());
      queue_.pop_front();
    }
    registration_.arrived();
    velrtp_header header;
    if (!velrtp_read_header(datagram.data(), static_cast<unsigned>(datagram.size()), &header))
      continue;
    rtp_frame_assembler::output out;
    {
      std::lock_guard<std::mutex> lock(assembler_mutex_);
      // Late and duplicate packets go before any FEC work.
      if (assembler_.drop_early(header.sequence))
        continue;
      fec_->feed(datagram.data(), static_cast<unsigned>(datagram.size()));
      out = std::move(pending_);
      pending_ = rtp_frame_assembler::output{};
    }
    for (auto& frame : out.frames)
      decoder_->push(std::move(frame));
    for (int state : out.net_states)
      ui_->net_state(remote_id_, state);
  }
}

// From inside fec_->feed, under assembler_mutex_.
void video_rtp_recv::on_media(const velrtp_header* header, const uint8_t* payload, unsigned length,
                              void* user) {
  auto* self = static_cast<video_rtp_recv*>(user);
  self->assembler_.on_packet(*header, payload, length, &self->pending_);
}

bool video_rtp_recv::loss_list(int* kind, std::vector<uint16_t>* missing) {
  std::lock_guard<std::mutex> lock(assembler_mutex_);
  *kind = kind_;
  *missing = assembler_.loss_list();
  return true;
}

}  // namespace pavo

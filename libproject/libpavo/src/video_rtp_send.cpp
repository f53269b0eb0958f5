#include "video_rtp_send.h"

#include <cstring>

#include "woblog/woblog.h"

namespace {

constexpr int media_pt = 1, red_pt = 100, fec_pt = 101;
// How far (timestamp units, ms) the history reaches back.
constexpr uint32_t history_span = 2000;
// The FEC share until told otherwise.
constexpr int initial_percent = 10;

}  // namespace

video_rtp_send::video_rtp_send(const char* ip, uint16_t port, uint32_t ssrc, int kind)
    : kind_(kind) {
  udp_.reset(udp_client::create(ip, port));
  fec_.reset(gen_fec_packet::create(ssrc, &video_rtp_send::on_packet, this));
  if (!udp_ || !fec_ || udp_->open() != 0) {
    qn::log("video_rtp_send: no socket towards %s:%u", ip ? ip : "", unsigned{port});
    return;
  }
  fec_->set_payload_types(media_pt, red_pt, fec_pt, kind_);
  set_protection(initial_percent);
  open_ = true;
}

video_rtp_send::~video_rtp_send() {
  if (udp_)
    udp_->stop();
}

void video_rtp_send::set_protection(int percent) {
  const int rate = percent * 255 / 100;
  std::lock_guard<std::mutex> lock(mutex_);
  if (fec_)
    fec_->set_protection({rate, 30}, {rate, 60});
}

void video_rtp_send::send_frame(const uint8_t* data, unsigned length, uint32_t timestamp,
                                bool key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || !data || length == 0)
    return;
  uint32_t rtp_timestamp = 0;
  if (first_frame_) {
    first_frame_ = false;
    base_ = timestamp;
    oldest_timestamp_ = 0;
  } else {
    rtp_timestamp = timestamp - base_;
    // Two frames never share a timestamp: the receiver assembles frames by it.
    if (static_cast<int32_t>(rtp_timestamp - last_timestamp_) <= 0)
      rtp_timestamp = last_timestamp_ + 1;
  }
  last_timestamp_ = rtp_timestamp;
  fec_->send_frame(data, length, rtp_timestamp, key);
}

// From inside gen_fec_packet::send_frame, under mutex_.
void video_rtp_send::on_packet(const uint8_t* packet, unsigned length, uint32_t timestamp,
                               uint16_t sequence, void* user) {
  auto* self = static_cast<video_rtp_send*>(user);
  self->udp_->send(packet, length);
  self->keep(packet, length, timestamp, sequence);
}

void video_rtp_send::keep(const uint8_t* packet, unsigned length, uint32_t timestamp,
                          uint16_t sequence) {
  // FEC packets share the numbers of media packets; only media packets are asked for again.
  if (length < velrtp_header_size || length > velfec_max_packet || (packet[1] & 0x7f) != red_pt)
    return;
  if (history_.empty())
    oldest_timestamp_ = timestamp;
  history_.emplace_back();
  his_rtp_data_t& entry = history_.back();
  entry.length = length;
  std::memcpy(entry.bytes, packet, length);
  entry.sequence = sequence;
  entry.timestamp = timestamp;
  if (static_cast<int32_t>(timestamp - oldest_timestamp_) > static_cast<int32_t>(history_span)) {
    while (!history_.empty() && history_.front().timestamp == oldest_timestamp_)
      history_.pop_front();
    if (!history_.empty())
      oldest_timestamp_ = history_.front().timestamp;
  }
}

void video_rtp_send::retransmit(const uint16_t* seqs, unsigned count) {
  if (!seqs)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || history_.empty())
    return;
  const uint16_t front = history_.front().sequence;
  for (unsigned i = 0; i < count; ++i) {
    const uint16_t at = static_cast<uint16_t>(seqs[i] - front);
    if (at >= history_.size())
      continue;  // no longer kept (or never sent)
    const his_rtp_data_t& entry = history_[at];
    if (entry.sequence == seqs[i])
      udp_->send(entry.bytes, entry.length);
  }
}

uint32_t video_rtp_send::last_timestamp() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_timestamp_;
}

std::vector<uint16_t> video_rtp_send::kept() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint16_t> out;
  for (const auto& entry : history_)
    out.push_back(entry.sequence);
  return out;
}

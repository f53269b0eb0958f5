#include "video_sender_core.h"

#include "woblog/woblog.h"

namespace pavo {

video_sender_core::video_sender_core(sendmsg2ui* ui, int kind, bool screen)
    : ui_(ui), kind_(kind), screen_(screen) {}

video_sender_core::~video_sender_core() {
  quit();
}

void video_sender_core::set_format(int width, int height, int fps) {
  width_ = width;
  height_ = height;
  fps_ = fps;
}

bool video_sender_core::recreate_encoder(int kbps) {
  std::unique_ptr<velvideo_enc> encoder(
      velvideo_enc::create(width_, height_, fps_, kbps, this, screen_));
  if (!encoder) {
    qn::log("video sender of kind %d: no encoder at %d kbit/s", kind_, kbps);
    return false;
  }
  encoder_ = std::move(encoder);
  return true;
}

bool video_sender_core::make_encoder(int kbps) {
  std::lock_guard<std::mutex> lock(enc_mutex_);
  if (!recreate_encoder(kbps))
    return false;
  base_kbps_ = current_kbps_ = kbps;
  return true;
}

void video_sender_core::make_bandwidth_ctrl(int start_kbps, int min_kbps, int max_kbps) {
  std::lock_guard<std::mutex> lock(bwc_mutex_);
  bwc_.reset(velbandwidth_ctrl::create(this));
  if (bwc_ && bwc_->configure(start_kbps * 1000, min_kbps * 1000, max_kbps * 1000) != 0)
    qn::log("video sender of kind %d: bitrates %d/%d/%d do not configure the estimator", kind_,
            start_kbps, min_kbps, max_kbps);
}

void video_sender_core::release_bandwidth_ctrl() {
  std::lock_guard<std::mutex> lock(bwc_mutex_);
  bwc_.reset();
}

void video_sender_core::make_rtp(const char* ip, uint16_t port, uint32_t ssrc, int fec_percent) {
  std::lock_guard<std::mutex> lock(rtp_mutex_);
  if (rtp_)
    return;
  auto rtp = std::make_unique<video_rtp_send>(ip, port, ssrc, kind_);
  if (!rtp->is_open())
    return;  // captured and encoded, but not sent
  rtp->set_protection(fec_percent);
  fec_percent_ = fec_percent;
  rtp_ = std::move(rtp);
}

void video_sender_core::release_rtp() {
  std::unique_ptr<video_rtp_send> rtp;
  {
    std::lock_guard<std::mutex> lock(rtp_mutex_);
    rtp = std::move(rtp_);
  }
}

void video_sender_core::start_encoding() {
  queue_.restart();
  running_ = true;
  if (lthread::start() != 0) {
    running_ = false;
    qn::log("video sender of kind %d: no encoding thread", kind_);
  }
}

void video_sender_core::stop_encoding() {
  if (running_) {
    running_ = false;
    quit();  // wakes the thread through the queue and joins it
    std::lock_guard<std::mutex> lock(enc_mutex_);
    encoder_.reset();
  }
  queue_.stop();
}

void video_sender_core::run() {
  for (;;) {
    queued_frame frame;
    const frame_queue::wait_result got = queue_.pop(&frame, frame_wait_ms());
    if (got == frame_queue::wait_result::stopped)
      return;
    if (got == frame_queue::wait_result::timeout) {
      if (on_frame_timeout())
        continue;
      return;
    }
    before_encode(frame);
    std::lock_guard<std::mutex> lock(enc_mutex_);
    if (encoder_)
      encoder_->encode(frame.i420.data(), static_cast<unsigned>(frame.i420.size()),
                       frame.capture_ms);
  }
}

void video_sender_core::on_encoded_data(const uint8_t* data, unsigned length, uint32_t timestamp,
                                        int frame_type) {
  std::lock_guard<std::mutex> lock(rtp_mutex_);
  if (rtp_)
    rtp_->send_frame(data, length, timestamp, frame_type == 1);
}

void video_sender_core::retransmit(const uint16_t* seqs, unsigned count) {
  std::lock_guard<std::mutex> lock(rtp_mutex_);
  if (rtp_)
    rtp_->retransmit(seqs, count);
}

void video_sender_core::bandwidth_feedback(uint32_t value) {
  std::lock_guard<std::mutex> lock(bwc_mutex_);
  if (!bwc_)
    return;
  bwc_->on_delay_feedback(feedback_delay_ms(value));
  bwc_->on_receiver_feedback(feedback_loss(value));
}

void video_sender_core::on_bitrate_changed(uint32_t bitrate_bps) {
  const int k = static_cast<int>(bitrate_bps / 1000);
  if (!follows_estimate())
    return;
  std::lock_guard<std::mutex> lock(enc_mutex_);
  if (k <= 0 || base_kbps_ / 10 >= k || !encoder_)
    return;
  if (recreate_encoder(k))
    base_kbps_ = current_kbps_ = k;
}

int64_t video_sender_core::estimate() {
  std::lock_guard<std::mutex> lock(bwc_mutex_);
  return bwc_ ? bwc_->current_estimate() : -1;
}

void video_sender_core::rates(int* base, int* current) const {
  std::lock_guard<std::mutex> lock(enc_mutex_);
  *base = base_kbps_;
  *current = current_kbps_;
}

int video_sender_core::base_kbps() const {
  std::lock_guard<std::mutex> lock(enc_mutex_);
  return base_kbps_;
}

int video_sender_core::current_kbps() const {
  std::lock_guard<std::mutex> lock(enc_mutex_);
  return current_kbps_;
}

void video_sender_core::apply(const quality_step& step) {
  if (!step.change)
    return;
  {
    std::lock_guard<std::mutex> lock(enc_mutex_);
    if (!encoder_ || !recreate_encoder(step.kbps))
      return;
    current_kbps_ = step.kbps;
  }
  if (step.fec_percent >= 0) {
    std::lock_guard<std::mutex> lock(rtp_mutex_);
    fec_percent_ = step.fec_percent;
    if (rtp_)
      rtp_->set_protection(step.fec_percent);
  }
}

}  // namespace pavo

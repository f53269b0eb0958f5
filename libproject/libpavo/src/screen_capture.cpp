#include "screen_capture.h"

#include <chrono>

#include "frame_buffer.h"
#include "libpavo/libpavo.h"
#include "platform/platform.h"
#include "video_param.h"
#include "woblog/woblog.h"

namespace pavo {

namespace {

velscreen* make_velscreen(int source, int width, int height) {
  return velscreen::create(source, width, height, 0, 0, 0, 0);
}

}  // namespace

screen_capture::screen_capture(sendmsg2ui* ui, grabber_maker make_grabber)
    : video_sender_core(ui, media_kind_screen, true),
      make_grabber_(make_grabber ? std::move(make_grabber) : grabber_maker(&make_velscreen)) {
  if (const video_param_t* params = video_param()) {
    set_format(params->share.width, params->share.height, params->share.fps);
    start_kbps_ = params->share.start_bitrate;
  }
}

screen_capture::~screen_capture() {
  stop();
  quit();
}

bool screen_capture::grab_still() {
  if (!grabber_)
    return false;
  std::vector<uint8_t> picture(velmedia_i420_size(width_, height_));
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (grabber_->grab(picture.data(), static_cast<unsigned>(picture.size())) == 0) {
      last_frame_ = std::move(picture);
      return true;
    }
  }
  return false;
}

int screen_capture::start(const char* ip, uint16_t port, uint32_t ssrc, int max_kbps,
                          int min_kbps) {
  ssrc_ = ssrc;
  if (width_ <= 0 || height_ <= 0 || fps_ <= 0 || !make_encoder(start_kbps_))
    return -1;
  {
    std::lock_guard<std::mutex> lock(grab_mutex_);
    started_ = true;
    grabber_.reset(make_grabber_(source_, width_, height_));
    if (live_ == 0 && !grab_still()) {
      qn::log("screen sender: the still source %d gives no picture", source_);
      return -1;
    }
  }
  start_timer(1000 / fps_);
  make_rtp(ip, port, ssrc, 10);
  make_bandwidth_ctrl(start_kbps_, min_kbps, max_kbps);
  start_encoding();
  qn::log("screen sender of %u: source %d, %dx%d at %d fps towards %s:%u", ssrc, source_, width_,
          height_, fps_, ip ? ip : "", unsigned{port});
  return 0;
}

void screen_capture::stop() {
  stop_timer();
  release_bandwidth_ctrl();
  {
    std::lock_guard<std::mutex> lock(grab_mutex_);
    grabber_.reset();
    started_ = false;
  }
  stop_encoding();
  release_rtp();
}

void screen_capture::tick() {
  std::lock_guard<std::mutex> lock(grab_mutex_);
  if (!grabber_ || live_ == 0) {
    if (!last_frame_.empty())
      queue_.push(last_frame_.data(), static_cast<unsigned>(last_frame_.size()),
                  platform::tickMs());
    return;
  }
  work_.resize(velmedia_i420_size(width_, height_));
  if (grabber_->grab(work_.data(), static_cast<unsigned>(work_.size())) != 0)
    return;
  if (uint8_t* pixels = frame_from_i420(work_.data(), width_, height_, ui_->frame_format()))
    ui_->deliver_frame(width_, height_, pixels, ssrc_, media_kind_screen);
  last_frame_ = work_;
  queue_.push(last_frame_.data(), static_cast<unsigned>(last_frame_.size()), platform::tickMs());
}

void screen_capture::before_encode(queued_frame& frame) {
  if (frame.i420.size() != velmedia_i420_size(width_, height_))
    return;
  overlay_.apply(ui_, frame.i420.data(), width_, height_, screen_overlay::clock::now());
}

bool screen_capture::has_grabber() {
  std::lock_guard<std::mutex> lock(grab_mutex_);
  return grabber_ != nullptr;
}

void screen_capture::set_source(int32_t source, int32_t live) {
  std::lock_guard<std::mutex> lock(grab_mutex_);
  source_ = source;
  live_ = live;
  if (!started_)
    return;  // the start makes the grabber
  grabber_.reset(make_grabber_(source_, width_, height_));
  if (live_ == 0 && !grab_still())
    qn::log("screen sender: the still source %d gives no picture", source_);
}

void screen_capture::grabber_state(int state) {
  std::lock_guard<std::mutex> lock(grab_mutex_);
  if (state < 0 || state > 3)
    return;
  state_ = state;
  if (state == 2 && !grabber_ && started_)
    grabber_.reset(make_grabber_(source_, width_, height_));
  else if (state == 3)
    grabber_.reset();
}

void screen_capture::quality_level(uint32_t level) {
  if (has_grabber())
    return;  // a live capture keeps its rate
  int base = 0, current = 0;
  rates(&base, &current);
  apply(screen_quality(level, base, current, estimate()));
}

void screen_capture::start_timer(int period_ms) {
  stop_timer();
  {
    std::lock_guard<std::mutex> lock(timer_mutex_);
    timer_stop_ = false;
  }
  const auto period = std::chrono::milliseconds(period_ms > 0 ? period_ms : 1);
  timer_ = std::thread([this, period] {
    auto next = std::chrono::steady_clock::now() + period;
    std::unique_lock<std::mutex> lock(timer_mutex_);
    while (!timer_wake_.wait_until(lock, next, [this] { return timer_stop_; })) {
      lock.unlock();
      tick();
      lock.lock();
      next += period;
      const auto now = std::chrono::steady_clock::now();
      if (now > next + period)
        next = now;  // after a stall, go on from now instead of catching up
    }
  });
}

void screen_capture::stop_timer() {
  {
    std::lock_guard<std::mutex> lock(timer_mutex_);
    timer_stop_ = true;
  }
  timer_wake_.notify_all();
  if (timer_.joinable())
    timer_.join();
}

}  // namespace pavo

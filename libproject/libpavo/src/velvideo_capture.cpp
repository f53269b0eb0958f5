#include "velvideo_capture.h"

#include "frame_buffer.h"
#include "libpavo/libpavo.h"
#include "platform/platform.h"
#include "woblog/woblog.h"

namespace pavo {

velvideo_capture::velvideo_capture(sendmsg2ui* ui, uint16_t camera_index, camera_maker make_camera,
                                   int silence_ms)
    : video_sender_core(ui, media_kind_video, false),
      camera_index_(camera_index),
      silence_ms_(silence_ms > 0 ? silence_ms : 5000),
      make_camera_(make_camera ? std::move(make_camera) : camera_maker(&velcapture::create)) {}

velvideo_capture::~velvideo_capture() {
  stop();
  quit();
}

int velvideo_capture::set_capture_param(int width, int height, int fps, int kbps) {
  want_width_ = width;
  want_height_ = height;
  want_fps_ = fps;
  start_kbps_ = kbps;
  return 0;
}

int velvideo_capture::start(const char* ip, uint16_t port, uint32_t ssrc, int max_kbps,
                            int min_kbps) {
  ip_ = ip ? ip : "";
  port_ = port;
  ssrc_ = ssrc;
  int width = want_width_, height = want_height_, fps = want_fps_;
  {
    std::lock_guard<std::mutex> lock(camera_mutex_);
    camera_.reset(make_camera_());
    accepting_ = true;  // frames wait in the queue until the thread runs
    if (!camera_ || camera_->open(camera_index_, &width, &height, &fps, this) != 0) {
      qn::log("camera %u does not open", unsigned{camera_index_});
      accepting_ = false;
      camera_.reset();
      return -1;
    }
  }
  opened_width_ = width;
  opened_height_ = height;
  opened_fps_ = fps;
  set_format(width, height, fps);
  if (!make_encoder(start_kbps_)) {
    stop();
    return -1;
  }
  make_bandwidth_ctrl(start_kbps_, min_kbps, max_kbps);
  make_rtp(ip_.c_str(), port_, ssrc_, 10);
  start_encoding();
  qn::log("camera sender of %u: %dx%d at %d fps, %d kbit/s towards %s:%u", ssrc, width, height, fps,
          start_kbps_, ip_.c_str(), unsigned{port});
  return 0;
}

void velvideo_capture::stop() {
  release_bandwidth_ctrl();
  accepting_ = false;
  // The encoding thread goes first: it is the one that may open the camera again.
  stop_encoding();
  std::unique_ptr<velcapture> camera;
  {
    std::lock_guard<std::mutex> lock(camera_mutex_);
    camera = std::move(camera_);
  }
  if (camera)
    camera->close();  // no picture arrives after this
  release_rtp();
}

void velvideo_capture::on_capture_data(const uint8_t* i420, unsigned length, int width,
                                       int height) {
  if (!i420 || width <= 0 || height <= 0 || length < velmedia_i420_size(width, height))
    return;
  if (uint8_t* pixels = frame_from_i420(i420, width, height, ui_->frame_format()))
    ui_->deliver_frame(width, height, pixels, ssrc_, media_kind_video);
  reopened_ = false;
  if (accepting_)
    queue_.push(i420, velmedia_i420_size(width, height), platform::tickMs());
}

bool velvideo_capture::on_frame_timeout() {
  // A camera whose capture stopped (a read that failed under load, a driver's hiccup) gets
  // one more chance: opened again, it goes on; silent since then as well, it is given up.
  if (!reopened_ && reopen_camera()) {
    reopened_ = true;
    qn::log(
        "camera sender of %u: no picture for %d ms, camera opened again (%llu pictures "
        "dropped so far while the encoder was behind)",
        ssrc_, silence_ms_, static_cast<unsigned long long>(queue_.dropped()));
    return true;
  }
  accepting_ = false;
  qn::log("camera sender of %u: no picture for %d ms", ssrc_, silence_ms_);
  ui_->media_event(pavo_event_camera_timeout, nullptr);
  return false;
}

bool velvideo_capture::reopen_camera() {
  std::unique_ptr<velcapture> old;
  {
    std::lock_guard<std::mutex> lock(camera_mutex_);
    old = std::move(camera_);
  }
  if (old)
    old->close();
  old.reset();
  std::lock_guard<std::mutex> lock(camera_mutex_);
  // The encoder is made for the picture the camera gave at the start: it must give that again.
  int width = opened_width_, height = opened_height_, fps = opened_fps_;
  camera_.reset(make_camera_());
  const bool opened = camera_ && camera_->open(camera_index_, &width, &height, &fps, this) == 0;
  if (!opened || width != opened_width_ || height != opened_height_) {
    qn::log("camera %u does not open again as it was", unsigned{camera_index_});
    if (opened)
      camera_->close();
    camera_.reset();
    return false;
  }
  return true;
}

void velvideo_capture::quality_level(uint32_t level) {
  int base = 0, current = 0;
  rates(&base, &current);
  const int64_t e = estimate();
  apply(camera_quality(level, base, current, e));
}

int velvideo_capture::restart(int kbps, int min_kbps, int max_kbps) {
  if (!encoding() || kbps <= 0)
    return -1;
  if (!make_encoder(kbps))
    return -1;
  make_bandwidth_ctrl(kbps, min_kbps, max_kbps);
  return 0;
}

}  // namespace pavo

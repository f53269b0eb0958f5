#include "velvideo_decode.h"

#include "frame_buffer.h"
#include "woblog/woblog.h"

namespace pavo {

velvideo_decode::velvideo_decode(sendmsg2ui* ui, uint32_t remote_id, int kind)
    : ui_(ui), remote_id_(remote_id), kind_(kind), decoder_(velvideo_dec::create(this)) {
  if (!decoder_) {
    qn::log("video receiver of %u kind %d: no decoder", remote_id, kind);
    return;
  }
  if (start() != 0)
    qn::log("video receiver of %u kind %d: no decoding thread", remote_id, kind);
}

velvideo_decode::~velvideo_decode() {
  stop();
}

void velvideo_decode::stop() {
  quit();
}

void velvideo_decode::on_quit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    frames_.clear();
  }
  changed_.notify_all();
}

void velvideo_decode::push(std::vector<uint8_t> frame) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || !decoder_)
      return;
    frames_.push_back(std::move(frame));
  }
  changed_.notify_one();
}

void velvideo_decode::run() {
  for (;;) {
    std::vector<uint8_t> frame;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !frames_.empty(); });
      if (stopping_)
        return;
      frame = std::move(frames_.front());
      frames_.pop_front();
    }
    if (decoder_->decode(frame.data(), static_cast<unsigned>(frame.size())) != 0)
      qn::log("video receiver of %u kind %d: a frame of %zu bytes does not decode", remote_id_,
              kind_, frame.size());
  }
}

void velvideo_decode::on_decoded_data(const uint8_t* i420, int width, int height) {
  uint8_t* pixels = frame_from_i420(i420, width, height, ui_->frame_format());
  if (!pixels)
    return;
  // Freed there at once when delivery is off or the library is going down.
  ui_->deliver_frame(width, height, pixels, remote_id_, kind_);
}

}  // namespace pavo

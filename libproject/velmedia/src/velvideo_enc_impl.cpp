// velvideo_enc: H.264 through libavcodec's libx264 encoder, tuned for live use: ultrafast,
// zerolatency (no frame held back), no B-frames, constant-rate VBV at the given bitrate.
#include <iterator>
#include <map>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include "velmedia/velvideo_enc.h"
#include "woblog/woblog.h"

namespace velmedia_internal {
namespace {

class video_encoder : public velvideo_enc {
public:
  video_encoder(int width, int height, velcode_enc_data* sink)
      : width_(width), height_(height), sink_(sink) {}

  ~video_encoder() override {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
  }

  bool open(int fps, int bitrate_kbps, bool screen) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
      qn::log("velmedia: no libx264 encoder");
      return false;
    }
    context_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!context_ || !packet_ || !frame_)
      return false;
    const int64_t bps = int64_t{bitrate_kbps} * 1000;
    context_->width = width_;
    context_->height = height_;
    context_->pix_fmt = AV_PIX_FMT_YUV420P;
    context_->time_base = AVRational{1, fps};
    context_->framerate = AVRational{fps, 1};
    context_->bit_rate = bps;
    context_->rc_max_rate = bps;
    context_->rc_buffer_size = static_cast<int>(bps);  // one second of data
    context_->max_b_frames = 0;
    context_->gop_size = 2 * fps;  // a late joiner waits at most two seconds for a picture
    context_->thread_count = 1;    // sliced threads would only add per-frame overhead here
    av_opt_set(context_->priv_data, "preset", "ultrafast", 0);
    // Screen content: sharp text matters more than motion.
    av_opt_set(context_->priv_data, "tune", screen ? "stillimage,zerolatency" : "zerolatency", 0);
    // Parameter sets in front of every key frame (so each one starts a stream); x264's own
    // report lines stay out of the host's standard error.
    av_opt_set(context_->priv_data, "x264-params", "repeat-headers=1:log=-1", 0);
    const int opened = avcodec_open2(context_, codec, nullptr);
    if (opened < 0) {
      qn::log("velmedia: encoder %dx%d at %d kbit/s does not open (%d)", width_, height_,
              bitrate_kbps, opened);
      return false;
    }
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = width_;
    frame_->height = height_;
    return true;
  }

  int encode(const uint8_t* i420, unsigned length, uint32_t timestamp_ms) override {
    if (!i420 || length < velmedia_i420_size(width_, height_))
      return -1;
    const int chroma_w = (width_ + 1) / 2, chroma_h = (height_ + 1) / 2;
    // The picture is handed over without a copy; libavcodec copies what it keeps.
    frame_->data[0] = const_cast<uint8_t*>(i420);
    frame_->data[1] = frame_->data[0] + width_ * height_;
    frame_->data[2] = frame_->data[1] + chroma_w * chroma_h;
    frame_->linesize[0] = width_;
    frame_->linesize[1] = chroma_w;
    frame_->linesize[2] = chroma_w;
    frame_->pts = next_pts_;
    timestamps_[next_pts_++] = timestamp_ms;
    const int sent = avcodec_send_frame(context_, frame_);
    frame_->data[0] = frame_->data[1] = frame_->data[2] = nullptr;
    if (sent < 0) {
      timestamps_.erase(next_pts_ - 1);
      return -1;
    }
    for (;;) {
      const int got = avcodec_receive_packet(context_, packet_);
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
        break;
      if (got < 0)
        return -1;
      uint32_t timestamp = timestamp_ms;
      auto found = timestamps_.find(packet_->pts);
      if (found != timestamps_.end()) {
        timestamp = found->second;
        timestamps_.erase(timestamps_.begin(), std::next(found));
      }
      const int type = (packet_->flags & AV_PKT_FLAG_KEY) ? 1 : 0;
      sink_->on_encoded_data(packet_->data, static_cast<unsigned>(packet_->size), timestamp, type);
      av_packet_unref(packet_);
    }
    return 0;
  }

private:
  const int width_, height_;
  velcode_enc_data* const sink_;
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  int64_t next_pts_ = 0;
  std::map<int64_t, uint32_t> timestamps_;  // pts -> the caller's timestamp
};

}  // namespace
}  // namespace velmedia_internal

velvideo_enc* velvideo_enc::create(int width, int height, int fps, int bitrate_kbps,
                                   velcode_enc_data* sink, bool screen) {
  if (!sink || width <= 0 || height <= 0 || (width & 1) || (height & 1) || fps < 1 || fps > 60 ||
      bitrate_kbps <= 0 || width > 8192 || height > 8192)
    return nullptr;
  auto* encoder = new (std::nothrow) velmedia_internal::video_encoder(width, height, sink);
  if (encoder && !encoder->open(fps, bitrate_kbps, screen)) {
    delete encoder;
    return nullptr;
  }
  return encoder;
}

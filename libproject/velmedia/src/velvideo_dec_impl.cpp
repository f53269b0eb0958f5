// velvideo_dec: libavcodec's H.264 decoder, one whole frame per call, pictures out as tight
// I420 (whatever the stream's own layout).
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "velmedia/velvideo_dec.h"
#include "woblog/woblog.h"

namespace velmedia_internal {
namespace {

// Frames above this are not H.264 of any size we send.
constexpr unsigned max_frame_bytes = 16u << 20;

class video_decoder : public velvideo_dec {
public:
  explicit video_decoder(velcode_dec_data* sink) : sink_(sink) {}

  ~video_decoder() override {
    sws_freeContext(scaler_);
    av_frame_free(&scaled_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
  }

  bool open() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec) {
      qn::log("velmedia: no H.264 decoder");
      return false;
    }
    context_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!context_ || !packet_ || !frame_)
      return false;
    context_->thread_count = 1;  // frame threads would hold pictures back
    context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    return avcodec_open2(context_, codec, nullptr) >= 0;
  }

  int decode(const uint8_t* data, unsigned length) override {
    if (!data || length == 0 || length > max_frame_bytes)
      return -1;
    // The parser in the decoder reads a little past the end: give it zeroed padding.
    input_.assign(data, data + length);
    input_.resize(length + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet_->data = input_.data();
    packet_->size = static_cast<int>(length);
    const int sent = avcodec_send_packet(context_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    int result = sent < 0 ? -1 : 0;
    for (;;) {
      const int got = avcodec_receive_frame(context_, frame_);
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
        break;
      if (got < 0) {
        result = -1;
        break;
      }
      if (to_i420(frame_))
        sink_->on_decoded_data(picture_.data(), frame_->width, frame_->height);
      av_frame_unref(frame_);
    }
    return result;
  }

private:
  bool to_i420(const AVFrame* frame) {
    const int w = frame->width, h = frame->height;
    if (w <= 0 || h <= 0)
      return false;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    picture_.resize(velmedia_i420_size(w, h));
    uint8_t* planes[3] = {picture_.data(), picture_.data() + w * h,
                          picture_.data() + w * h + cw * ch};
    const int strides[3] = {w, cw, cw};
    if (frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P)
      return copy_planes(frame, planes, strides, w, h);
    // Other layouts (4:2:2, high bit depth) are scaled down to 8-bit 4:2:0, through a padded
    // frame (swscale may write past a row's end).
    scaler_ = sws_getCachedContext(scaler_, w, h, static_cast<AVPixelFormat>(frame->format), w, h,
                                   AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler_ || !padded_frame(w, h))
      return false;
    if (sws_scale(scaler_, frame->data, frame->linesize, 0, h, scaled_->data, scaled_->linesize) !=
        h)
      return false;
    return copy_planes(scaled_, planes, strides, w, h);
  }

  static bool copy_planes(const AVFrame* from, uint8_t* const planes[3], const int strides[3],
                          int w, int h) {
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    const int widths[3] = {w, cw, cw}, heights[3] = {h, ch, ch};
    for (int p = 0; p < 3; ++p)
      for (int y = 0; y < heights[p]; ++y)
        std::memcpy(planes[p] + y * strides[p], from->data[p] + y * from->linesize[p], widths[p]);
    return true;
  }

  bool padded_frame(int w, int h) {
    if (scaled_ && scaled_->width == w && scaled_->height == h)
      return true;
    av_frame_free(&scaled_);
    scaled_ = av_frame_alloc();
    if (!scaled_)
      return false;
    scaled_->format = AV_PIX_FMT_YUV420P;
    scaled_->width = w;
    scaled_->height = h;
    return av_frame_get_buffer(scaled_, 64) >= 0;
  }

  velcode_dec_data* const sink_;
  AVCodecContext* context_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwsContext* scaler_ = nullptr;
  AVFrame* scaled_ = nullptr;
  std::vector<uint8_t> input_;
  std::vector<uint8_t> picture_;
};

}  // namespace
}  // namespace velmedia_internal

velvideo_dec* velvideo_dec::create(velcode_dec_data* sink) {
  if (!sink)
    return nullptr;
  auto* decoder = new (std::nothrow) velmedia_internal::video_decoder(sink);
  if (decoder && !decoder->open()) {
    delete decoder;
    return nullptr;
  }
  return decoder;
}

#include "rgb_converter.h"

#include <algorithm>

extern "C" {
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

rgb_converter::~rgb_converter() {
  sws_freeContext(sws_);
  av_free(buffer_);
}

const unsigned char* rgb_converter::convert(const AVFrame* frame) {
  const int w = frame->width;
  const int h = frame->height;
  if (w <= 0 || h <= 0)
    return nullptr;
  sws_ = sws_getCachedContext(sws_, w, h, static_cast<AVPixelFormat>(frame->format), w, h,
                              AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!sws_)
    return nullptr;
  if (w > buffer_width_ || h > buffer_height_) {
    // Grown in both dimensions to the largest seen, so a narrower but taller picture after a
    // wide one still fits.
    const int new_w = std::max(w, buffer_width_);
    const int new_h = std::max(h, buffer_height_);
    // The scaler's vector code may write a little past the end of the last packed row.
    uint8_t* grown =
        static_cast<uint8_t*>(av_malloc(static_cast<size_t>(new_w) * 3 * (new_h + 1) + 64));
    if (!grown)
      return nullptr;
    av_free(buffer_);
    buffer_ = grown;
    buffer_width_ = new_w;
    buffer_height_ = new_h;
  }
  uint8_t* dst[4] = {buffer_, nullptr, nullptr, nullptr};
  int dst_linesize[4] = {w * 3, 0, 0, 0};
  if (sws_scale(sws_, frame->data, frame->linesize, 0, h, dst, dst_linesize) != h)
    return nullptr;
  width_ = w;
  height_ = h;
  return buffer_;
}

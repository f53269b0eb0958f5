#include "bgr_converter.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "velmedia/velmedia_types.h"

namespace probix_internal {

bgr_converter::~bgr_converter() {
  sws_freeContext(scaler_);
}

bool bgr_converter::convert(const uint8_t* i420, unsigned length, int width, int height,
                            std::vector<uint8_t>* bgr) {
  const unsigned needed = velmedia_i420_size(width, height);
  if (!i420 || needed == 0 || length < needed)
    return false;
  scaler_ = sws_getCachedContext(scaler_, width, height, AV_PIX_FMT_YUV420P, width, height,
                                 AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr);
  if (!scaler_)
    return false;
  bgr->resize(velmedia_bgr24_size(width, height));
  const int chroma_width = (width + 1) / 2;
  const int chroma_height = (height + 1) / 2;
  const uint8_t* planes[4] = {i420, i420 + width * height,
                              i420 + width * height + chroma_width * chroma_height, nullptr};
  const int strides[4] = {width, chroma_width, chroma_width, 0};
  uint8_t* out[4] = {bgr->data(), nullptr, nullptr, nullptr};
  const int out_strides[4] = {width * 3, 0, 0, 0};
  return sws_scale(scaler_, planes, strides, 0, height, out, out_strides) == height;
}

}  // namespace probix_internal

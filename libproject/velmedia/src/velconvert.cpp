// yuv4202bgr24 through libswscale. The output's byte order is R, G, B: the layout the client
// wraps as a Qt RGB888 image (the function keeps its historical name).
#include <cstring>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "velmedia/velconvert.h"

namespace {

// One scaler and work buffer per thread: every video thread converts its own pictures.
// swscale may write past the end of a row of packed pixels, so it writes into padded rows
// that are then copied out.
struct thread_scaler {
  ~thread_scaler() { sws_freeContext(context); }
  SwsContext* context = nullptr;
  std::vector<uint8_t> rows;
};

constexpr int row_padding = 64;

}  // namespace

int yuv4202bgr24(const uint8_t* i420, uint8_t* bgr24, int width, int height) {
  if (!i420 || !bgr24 || width <= 0 || height <= 0 || width > 16384 || height > 16384)
    return -1;
  thread_local thread_scaler scaler;
  scaler.context =
      sws_getCachedContext(scaler.context, width, height, AV_PIX_FMT_YUV420P, width, height,
                           AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!scaler.context)
    return -1;
  const int chroma_w = (width + 1) / 2, chroma_h = (height + 1) / 2;
  const uint8_t* planes[3] = {i420, i420 + width * height,
                              i420 + width * height + chroma_w * chroma_h};
  const int strides[3] = {width, chroma_w, chroma_w};
  const int row = ((width * 3 + row_padding - 1) / row_padding) * row_padding + row_padding;
  scaler.rows.resize(static_cast<std::size_t>(row) * (height + 1));
  uint8_t* out[1] = {scaler.rows.data()};
  const int out_stride[1] = {row};
  if (sws_scale(scaler.context, planes, strides, 0, height, out, out_stride) != height)
    return -1;
  for (int y = 0; y < height; ++y)
    std::memcpy(bgr24 + static_cast<std::size_t>(y) * width * 3,
                scaler.rows.data() + static_cast<std::size_t>(y) * row,
                static_cast<std::size_t>(width) * 3);
  return 0;
}

// yuv4202bgr24 and yuv4202rgb32 through libswscale. The 3-byte output's order is R, G, B: the
// layout the client wraps as a Qt RGB888 image (the function keeps its historical name). The
// 4-byte output is FFmpeg's native-endian RGB32 (0xAARRGGBB words), with the alpha byte opaque
// since the source has none: Qt's RGB32.
#include <cstring>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "velmedia/velconvert.h"

namespace {

// One scaler and work buffer per thread and output layout: every video thread converts its
// own pictures. swscale may write past the end of a row of packed pixels, so it writes into
// padded rows that are then copied out.
struct thread_scaler {
  ~thread_scaler() { sws_freeContext(context); }
  SwsContext* context = nullptr;
  std::vector<uint8_t> rows;
};

constexpr int row_padding = 64;

int convert(thread_scaler& scaler, AVPixelFormat format, int bytes_per_pixel, const uint8_t* i420,
            uint8_t* out_pixels, int width, int height) {
  if (!i420 || !out_pixels || width <= 0 || height <= 0 || width > 16384 || height > 16384)
    return -1;
  scaler.context = sws_getCachedContext(scaler.context, width, height, AV_PIX_FMT_YUV420P, width,
                                        height, format, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!scaler.context)
    return -1;
  const int chroma_w = (width + 1) / 2, chroma_h = (height + 1) / 2;
  const uint8_t* planes[3] = {i420, i420 + width * height,
                              i420 + width * height + chroma_w * chroma_h};
  const int strides[3] = {width, chroma_w, chroma_w};
  const int packed_row = width * bytes_per_pixel;
  const int row = ((packed_row + row_padding - 1) / row_padding) * row_padding + row_padding;
  scaler.rows.resize(static_cast<std::size_t>(row) * (height + 1));
  uint8_t* out[1] = {scaler.rows.data()};
  const int out_stride[1] = {row};
  if (sws_scale(scaler.context, planes, strides, 0, height, out, out_stride) != height)
    return -1;
  for (int y = 0; y < height; ++y)
    std::memcpy(out_pixels + static_cast<std::size_t>(y) * packed_row,
                scaler.rows.data() + static_cast<std::size_t>(y) * row,
                static_cast<std::size_t>(packed_row));
  return 0;
}

}  // namespace

int yuv4202bgr24(const uint8_t* i420, uint8_t* bgr24, int width, int height) {
  thread_local thread_scaler scaler;
  return convert(scaler, AV_PIX_FMT_RGB24, 3, i420, bgr24, width, height);
}

int yuv4202rgb32(const uint8_t* i420, uint8_t* rgb32, int width, int height) {
  thread_local thread_scaler scaler;
  return convert(scaler, AV_PIX_FMT_RGB32, 4, i420, rgb32, width, height);
}

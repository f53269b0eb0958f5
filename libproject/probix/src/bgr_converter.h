// I420 pictures to packed BGR24 for the camera preview.
#pragma once

#include <cstdint>
#include <vector>

struct SwsContext;

namespace probix_internal {

class bgr_converter {
public:
  bgr_converter() = default;
  ~bgr_converter();
  bgr_converter(const bgr_converter&) = delete;
  bgr_converter& operator=(const bgr_converter&) = delete;

  // Converts one I420 picture of width x height (`length` bytes, checked) into `bgr`
  // (resized to width*height*3). False on a bad size or a short picture.
  bool convert(const uint8_t* i420, unsigned length, int width, int height,
               std::vector<uint8_t>* bgr);

private:
  SwsContext* scaler_ = nullptr;
};

}  // namespace probix_internal

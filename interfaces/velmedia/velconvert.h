// velmedia: picture format conversion.
#pragma once

#include <cstdint>

#include "velmedia/velmedia_types.h"

// Converts an I420 picture of width x height into packed 24-bit pixels: bytes R, G, B per pixel
// (the layout Qt calls RGB888, as the client shows event-12 frames; the name is historical),
// rows of width*3 bytes without padding; velmedia_bgr24_size bytes. 0 done, -1 null buffers
// or a non-positive size.
int yuv4202bgr24(const uint8_t* i420, uint8_t* bgr24, int width, int height);
// Converts an I420 picture into 32-bit pixels, one native-endian word 0xffRRGGBB per pixel
// (the layout Qt paints as QImage::Format_RGB32 without converting), rows of width*4 bytes
// without padding; velmedia_rgb32_size bytes. 0 done, -1 null buffers or a non-positive size.
int yuv4202rgb32(const uint8_t* i420, uint8_t* rgb32, int width, int height);

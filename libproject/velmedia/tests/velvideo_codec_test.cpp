// The H.264 encoder and decoder together, and the colour conversions the client shows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "velmedia/velconvert.h"
#include "velmedia/velvideo_dec.h"
#include "velmedia/velvideo_enc.h"

namespace {

using bytes = std::vector<uint8_t>;

struct encoded {
  bytes data;
  uint32_t timestamp;
  int type;
};

struct enc_sink : velcode_enc_data {
  std::vector<encoded> frames;
  void on_encoded_data(const uint8_t* data, unsigned length, uint32_t ts, int type) override {
    frames.push_back({bytes(data, data + length), ts, type});
  }
};

struct dec_sink : velcode_dec_data {
  std::vector<bytes> pictures;
  int width = 0, height = 0;
  void on_decoded_data(const uint8_t* i420, int w, int h) override {
    width = w;
    height = h;
    pictures.emplace_back(i420, i420 + velmedia_i420_size(w, h));
  }
};

// A moving picture with detail: gradients and a square that travels with the frame number.
bytes test_picture(int w, int h, int n) {
  bytes p(velmedia_i420_size(w, h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool square = ((x - 3 * n) & 63) < 24 && ((y - n) & 63) < 24;
      p[y * w + x] = square ? 235 : static_cast<uint8_t>(16 + (x + y + n) % 200);
    }
  uint8_t* u = p.data() + w * h;
  uint8_t* v = u + (w / 2) * (h / 2);
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) {
      u[y * (w / 2) + x] = static_cast<uint8_t>(64 + x % 128);
      v[y * (w / 2) + x] = static_cast<uint8_t>(64 + y % 128);
    }
  return p;
}

double psnr(const bytes& a, const bytes& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  const double mse = sum / double(a.size());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

int first_nal_type(const bytes& frame) {
  if (frame.size() > 4 && frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == 1)
    return frame[4] & 0x1f;
  if (frame.size() > 3 && frame[0] == 0 && frame[1] == 0 && frame[2] == 1)
    return frame[3] & 0x1f;
  return -1;
}

TEST(VideoCodec, RefusesBadArguments) {
  enc_sink sink;
  EXPECT_EQ(velvideo_enc::create(321, 240, 15, 300, &sink, false), nullptr);  // odd width
  EXPECT_EQ(velvideo_enc::create(320, 240, 0, 300, &sink, false), nullptr);
  EXPECT_EQ(velvideo_enc::create(320, 240, 15, 0, &sink, false), nullptr);
  EXPECT_EQ(velvideo_enc::create(320, 240, 15, 300, nullptr, false), nullptr);
  EXPECT_EQ(velvideo_dec::create(nullptr), nullptr);
  std::unique_ptr<velvideo_enc> enc(velvideo_enc::create(320, 240, 15, 300, &sink, false));
  ASSERT_TRUE(enc);
  bytes short_picture(100);
  EXPECT_EQ(enc->encode(short_picture.data(), 100, 0), -1);
  EXPECT_EQ(enc->encode(nullptr, 0, 0), -1);
}

TEST(VideoCodec, EncodesEveryFrameAtOnceAndDecodesItFaithfully) {
  constexpr int w = 320, h = 240, fps = 15, frames = 40;
  for (bool screen : {false, true}) {
    enc_sink encoded_frames;
    dec_sink decoded;
    std::unique_ptr<velvideo_enc> enc(
        velvideo_enc::create(w, h, fps, 800, &encoded_frames, screen));
    std::unique_ptr<velvideo_dec> dec(velvideo_dec::create(&decoded));
    ASSERT_TRUE(enc && dec);
    double worst = 99;
    for (int n = 0; n < frames; ++n) {
      const bytes picture = test_picture(w, h, n);
      ASSERT_EQ(enc->encode(picture.data(), static_cast<unsigned>(picture.size()), 1000 + 66 * n),
                0);
      // Nothing is held back: each picture comes out before encode returns.
      ASSERT_EQ(encoded_frames.frames.size(), static_cast<std::size_t>(n + 1));
      const encoded& out = encoded_frames.frames.back();
      EXPECT_EQ(out.timestamp, static_cast<uint32_t>(1000 + 66 * n));
      ASSERT_EQ(dec->decode(out.data.data(), static_cast<unsigned>(out.data.size())), 0);
      ASSERT_EQ(decoded.pictures.size(), static_cast<std::size_t>(n + 1));
      worst = std::min(worst, psnr(picture, decoded.pictures.back()));
    }
    EXPECT_EQ(decoded.width, w);
    EXPECT_EQ(decoded.height, h);
    EXPECT_GT(worst, 30.0) << (screen ? "screen" : "camera");

    // Key frames: the first, then at least every two seconds, each led by its parameter sets.
    int since_key = 0;
    for (std::size_t i = 0; i < encoded_frames.frames.size(); ++i) {
      const encoded& f = encoded_frames.frames[i];
      if (i == 0) {
        EXPECT_EQ(f.type, 1);
      }
      if (f.type == 1) {
        EXPECT_EQ(first_nal_type(f.data), 7);
        since_key = 0;
      } else {
        EXPECT_EQ(first_nal_type(f.data), 1);
        EXPECT_LT(++since_key, 2 * fps);
      }
    }
  }
}

TEST(VideoCodec, DecoderSurvivesGarbageAndResumesAtAKeyFrame) {
  constexpr int w = 160, h = 120;
  enc_sink encoded_frames;
  dec_sink decoded;
  std::unique_ptr<velvideo_enc> enc(velvideo_enc::create(w, h, 10, 200, &encoded_frames, false));
  std::unique_ptr<velvideo_dec> dec(velvideo_dec::create(&decoded));
  ASSERT_TRUE(enc && dec);
  bytes garbage(3000);
  for (std::size_t i = 0; i < garbage.size(); ++i)
    garbage[i] = static_cast<uint8_t>(i * 7919 % 251);
  dec->decode(garbage.data(), static_cast<unsigned>(garbage.size()));
  EXPECT_EQ(dec->decode(nullptr, 10), -1);
  const bytes picture = test_picture(w, h, 0);
  ASSERT_EQ(enc->encode(picture.data(), static_cast<unsigned>(picture.size()), 0), 0);
  const bytes& key = encoded_frames.frames[0].data;
  EXPECT_EQ(dec->decode(key.data(), static_cast<unsigned>(key.size())), 0);
  ASSERT_FALSE(decoded.pictures.empty());
  EXPECT_GT(psnr(picture, decoded.pictures.back()), 30.0);
}

// I420 of one flat colour (BT.601, limited range, as the codecs use).
bytes flat(int w, int h, uint8_t y, uint8_t u, uint8_t v) {
  bytes p(velmedia_i420_size(w, h));
  std::memset(p.data(), y, static_cast<std::size_t>(w) * h);
  std::memset(p.data() + w * h, u, static_cast<std::size_t>((w + 1) / 2) * ((h + 1) / 2));
  std::memset(p.data() + w * h + ((w + 1) / 2) * ((h + 1) / 2), v,
              static_cast<std::size_t>((w + 1) / 2) * ((h + 1) / 2));
  return p;
}

struct colour {
  const char* name;
  uint8_t y, u, v;
  uint8_t r, g, b;
};
const colour colours[] = {
    {"red", 81, 90, 240, 255, 0, 0},
    {"green", 145, 54, 34, 0, 255, 0},
    {"blue", 41, 240, 110, 0, 0, 255},
    {"white", 235, 128, 128, 255, 255, 255},
};

void expect_pixel(const uint8_t* p, const colour& c, const char* where) {
  EXPECT_NEAR(p[0], c.r, 12) << c.name << " R " << where;
  EXPECT_NEAR(p[1], c.g, 12) << c.name << " G " << where;
  EXPECT_NEAR(p[2], c.b, 12) << c.name << " B " << where;
}

// One 32-bit pixel read as the native word Qt's RGB32 reads: 0xffRRGGBB.
void expect_word(const uint8_t* p, const colour& c, const char* where) {
  uint32_t word = 0;
  std::memcpy(&word, p, 4);
  EXPECT_EQ(word >> 24, 0xffu) << c.name << " alpha " << where;
  EXPECT_NEAR((word >> 16) & 0xff, c.r, 12) << c.name << " R " << where;
  EXPECT_NEAR((word >> 8) & 0xff, c.g, 12) << c.name << " G " << where;
  EXPECT_NEAR(word & 0xff, c.b, 12) << c.name << " B " << where;
}

// The client shows the 3 bytes of each pixel as R, G, B (Qt's RGB888).
TEST(VideoConvert, ProducesRedGreenBlueBytesPerPixel) {
  EXPECT_EQ(yuv4202bgr24(nullptr, nullptr, 4, 4), -1);
  bytes out(velmedia_bgr24_size(6, 4));
  bytes in = flat(6, 4, 81, 90, 240);
  EXPECT_EQ(yuv4202bgr24(in.data(), out.data(), 0, 4), -1);
  for (const colour& c : colours) {
    const bytes picture = flat(6, 4, c.y, c.u, c.v);
    ASSERT_EQ(yuv4202bgr24(picture.data(), out.data(), 6, 4), 0);
    for (int i = 0; i < 6 * 4; ++i)
      expect_pixel(out.data() + 3 * i, c, "direct");
  }
  // Odd sizes round the chroma planes up.
  bytes odd = flat(5, 3, 81, 90, 240);
  bytes odd_out(velmedia_bgr24_size(5, 3));
  ASSERT_EQ(yuv4202bgr24(odd.data(), odd_out.data(), 5, 3), 0);
  expect_pixel(odd_out.data() + 3 * 14, colours[0], "odd size");
}

// The 32-bit layout: every pixel an opaque native-endian word, rows packed, nothing written
// past the picture.
TEST(VideoConvert, ProducesOpaqueNativeWordsPerPixel) {
  EXPECT_EQ(yuv4202rgb32(nullptr, nullptr, 4, 4), -1);
  bytes in = flat(6, 4, 81, 90, 240);
  bytes out(velmedia_rgb32_size(6, 4));
  EXPECT_EQ(velmedia_rgb32_size(6, 4), 6u * 4u * 4u);
  EXPECT_EQ(yuv4202rgb32(in.data(), nullptr, 6, 4), -1);
  EXPECT_EQ(yuv4202rgb32(in.data(), out.data(), 6, 0), -1);
  for (const colour& c : colours) {
    const bytes picture = flat(6, 4, c.y, c.u, c.v);
    ASSERT_EQ(yuv4202rgb32(picture.data(), out.data(), 6, 4), 0);
    for (int i = 0; i < 6 * 4; ++i)
      expect_word(out.data() + 4 * i, c, "direct");
  }
  // An odd size, with guard bytes after the picture.
  constexpr uint8_t guard = 0xab;
  bytes odd = flat(5, 3, 145, 54, 34);
  bytes odd_out(velmedia_rgb32_size(5, 3) + 64, guard);
  ASSERT_EQ(yuv4202rgb32(odd.data(), odd_out.data(), 5, 3), 0);
  expect_word(odd_out.data() + 4 * 14, colours[1], "odd size, last pixel");
  for (std::size_t i = velmedia_rgb32_size(5, 3); i < odd_out.size(); ++i)
    ASSERT_EQ(odd_out[i], guard) << "written past the picture at " << i;
}

// Both layouts on one thread, in turns: each keeps its own scaler and they agree.
TEST(VideoConvert, BothLayoutsAgreeWhenUsedInTurns) {
  constexpr int w = 32, h = 18;
  const bytes picture = test_picture(w, h, 3);
  bytes rgb24(velmedia_bgr24_size(w, h)), rgb32(velmedia_rgb32_size(w, h));
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(yuv4202bgr24(picture.data(), rgb24.data(), w, h), 0);
    ASSERT_EQ(yuv4202rgb32(picture.data(), rgb32.data(), w, h), 0);
    for (int i = 0; i < w * h; ++i) {
      uint32_t word = 0;
      std::memcpy(&word, rgb32.data() + 4 * i, 4);
      const uint8_t* p = rgb24.data() + 3 * i;
      ASSERT_NEAR((word >> 16) & 0xff, p[0], 2) << "pixel " << i;
      ASSERT_NEAR((word >> 8) & 0xff, p[1], 2) << "pixel " << i;
      ASSERT_NEAR(word & 0xff, p[2], 2) << "pixel " << i;
    }
  }
}

// Through the whole road: encoder, decoder, conversion.
TEST(VideoConvert, ColoursSurviveTheCodec) {
  constexpr int w = 64, h = 48;
  for (const colour& c : colours) {
    enc_sink encoded_frames;
    dec_sink decoded;
    std::unique_ptr<velvideo_enc> enc(velvideo_enc::create(w, h, 10, 300, &encoded_frames, false));
    std::unique_ptr<velvideo_dec> dec(velvideo_dec::create(&decoded));
    ASSERT_TRUE(enc && dec);
    const bytes picture = flat(w, h, c.y, c.u, c.v);
    ASSERT_EQ(enc->encode(picture.data(), static_cast<unsigned>(picture.size()), 0), 0);
    const bytes& frame = encoded_frames.frames[0].data;
    ASSERT_EQ(dec->decode(frame.data(), static_cast<unsigned>(frame.size())), 0);
    ASSERT_EQ(decoded.pictures.size(), 1u);
    bytes rgb(velmedia_bgr24_size(w, h));
    ASSERT_EQ(yuv4202bgr24(decoded.pictures[0].data(), rgb.data(), w, h), 0);
    expect_pixel(rgb.data() + 3 * (w * h / 2 + w / 2), c, "after the codec");
    bytes words(velmedia_rgb32_size(w, h));
    ASSERT_EQ(yuv4202rgb32(decoded.pictures[0].data(), words.data(), w, h), 0);
    expect_word(words.data() + 4 * (w * h / 2 + w / 2), c, "after the codec, 32-bit");
  }
}

}  // namespace

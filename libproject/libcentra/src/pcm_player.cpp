#include "pcm_player.h"

#include <opus/opus.h>

namespace centra_impl {

namespace {
constexpr int kRate = 48000;
constexpr int kChannels = 2;
// The longest Opus frame (120 ms).
constexpr int kMaxFrame = kRate * 120 / 1000;
// Concealment frames at once, as the speaker's player allows.
constexpr unsigned kMaxConcealed = 5;
constexpr int kConcealFrame = kRate * 20 / 1000;
}  // namespace

pcm_player::pcm_player(sink to) : sink_(std::move(to)), buffer_(kMaxFrame * kChannels) {
  int error = 0;
  decoder_ = opus_decoder_create(kRate, kChannels, &error);
  if (error != OPUS_OK)
    decoder_ = nullptr;
}

pcm_player::~pcm_player() {
  if (decoder_)
    opus_decoder_destroy(decoder_);
}

int pcm_player::play(const common_data_t* frame) {
  if (!decoder_ || !frame || !frame->data || frame->length == 0)
    return -1;
  const int frames = opus_decode(decoder_, frame->data, static_cast<opus_int32>(frame->length),
                                 buffer_.data(), kMaxFrame, 0);
  if (frames <= 0)
    return -1;
  played_ = true;
  sink_(buffer_.data(), static_cast<size_t>(frames));
  return 0;
}

int pcm_player::conceal(unsigned count) {
  if (!decoder_ || !played_)
    return -1;
  for (unsigned i = 0; i < count && i < kMaxConcealed; ++i) {
    const int frames = opus_decode(decoder_, nullptr, 0, buffer_.data(), kConcealFrame, 0);
    if (frames > 0)
      sink_(buffer_.data(), static_cast<size_t>(frames));
  }
  return 0;
}

}  // namespace centra_impl

#include "audio_publisher.h"

#include <opus.h>

#include "audio_packet.h"

namespace mcu {

audio_publisher::audio_publisher() {
  int error = OPUS_OK;
  decoder_ = opus_decoder_create(mix_rate, mix_channels, &error);
  if (error != OPUS_OK && decoder_) {
    opus_decoder_destroy(decoder_);
    decoder_ = nullptr;
  }
}

audio_publisher::~audio_publisher() {
  if (decoder_)
    opus_decoder_destroy(decoder_);
}

int64_t audio_publisher::unwrap(uint16_t seq, int64_t reference) {
  const auto delta =
      static_cast<int16_t>(static_cast<uint16_t>(seq - static_cast<uint16_t>(reference)));
  return reference + delta;
}

bool audio_publisher::datagram(const uint8_t* data, std::size_t length) {
  thread_local std::vector<audio_frame_view> frames;
  if (!parse_audio_frames(data, length, &frames))
    return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (have_reference_ && playing_ && unwrap(frames.front().seq, reference_) < next_) {
    // A sender that starts again (same port, numbering from 0) would otherwise stay "late"
    // until its numbers caught up: after a run of late frames, follow the new numbering.
    if (++late_in_row_ >= resync_after) {
      packets_.clear();
      playing_ = false;
      have_reference_ = false;
      late_in_row_ = 0;
    }
  } else {
    late_in_row_ = 0;
  }
  if (!have_reference_) {
    reference_ = frames.front().seq;
    have_reference_ = true;
  }
  for (const audio_frame_view& f : frames) {
    const int64_t position = unwrap(f.seq, reference_);
    if ((playing_ && position < next_) || packets_.count(position)) {
      // Redundancy of frames already taken is the normal case, not worth counting.
      if (&f == &frames.front())
        ++counters_.late;
      continue;
    }
    packets_.emplace(position, std::vector<uint8_t>(f.data, f.data + f.length));
  }
  // Bounded even before the clock first takes from it.
  while (packets_.size() > 4 * max_held)
    packets_.erase(packets_.begin());
  reference_ = unwrap(frames.front().seq, reference_);
  return true;
}

bool audio_publisher::next_frame(int16_t* pcm) {
  std::vector<uint8_t> frame;
  bool conceal = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!playing_) {
      if (packets_.size() < lead_frames)
        return false;
      playing_ = true;
      next_ = packets_.begin()->first;
      missing_ = 0;
      fade_in_ = true;
    }
    while (!packets_.empty() && packets_.begin()->first < next_)
      packets_.erase(packets_.begin());
    // A backlog (a burst, or a sender whose clock runs fast) is skipped down to the lead.
    while (packets_.size() > max_held) {
      packets_.erase(packets_.begin());
      ++counters_.skipped;
      next_ = packets_.begin()->first;
    }
    auto due = packets_.find(next_);
    if (due != packets_.end()) {
      frame = std::move(due->second);
      packets_.erase(due);
      ++next_;
      missing_ = 0;
    } else if (!packets_.empty()) {
      // Lost for good (later frames are here): conceal it and move on.
      ++next_;
      conceal = true;
    } else if (++missing_ <= conceal_when_missing) {
      // Late or stopped: conceal a little, keeping its turn in case it still comes.
      conceal = true;
    } else {
      playing_ = false;  // silent now; starts again with a fresh lead
      return false;
    }
    if (conceal)
      ++counters_.concealed;
    else
      ++counters_.decoded;
  }
  int samples = 0;
  if (!conceal) {
    samples = opus_decode(decoder_, frame.data(), static_cast<opus_int32>(frame.size()), pcm,
                          static_cast<int>(mix_frame), 0);
    decoded_any_ = decoded_any_ || samples > 0;
  } else if (decoded_any_) {
    samples = opus_decode(decoder_, nullptr, 0, pcm, static_cast<int>(mix_frame), 0);
  }
  // Anything but one whole 20 ms frame (another frame length, a bad packet) is not mixed.
  if (samples != static_cast<int>(mix_frame))
    return false;
  if (fade_in_) {
    // Ramp in a publisher that (re)starts, so its first frame does not click.
    for (unsigned i = 0; i < mix_frame; ++i)
      for (unsigned c = 0; c < mix_channels; ++c)
        pcm[i * mix_channels + c] = static_cast<int16_t>(
            pcm[i * mix_channels + c] * static_cast<int>(i) / static_cast<int>(mix_frame));
    fade_in_ = false;
  }
  return true;
}

bool audio_publisher::fade_out(int16_t* pcm) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!playing_)
      return false;
  }
  if (!decoded_any_ || opus_decode(decoder_, nullptr, 0, pcm, static_cast<int>(mix_frame), 0) !=
                           static_cast<int>(mix_frame))
    return false;
  for (unsigned i = 0; i < mix_frame; ++i)
    for (unsigned c = 0; c < mix_channels; ++c)
      pcm[i * mix_channels + c] =
          static_cast<int16_t>(pcm[i * mix_channels + c] * static_cast<int>(mix_frame - i) /
                               static_cast<int>(mix_frame));
  return true;
}

audio_publisher::counters audio_publisher::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counters_;
}

}  // namespace mcu

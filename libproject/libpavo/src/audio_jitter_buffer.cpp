#include "audio_jitter_buffer.h"

int64_t audio_jitter_buffer::unwrap(uint16_t seq, int64_t reference) {
  const auto delta =
      static_cast<int16_t>(static_cast<uint16_t>(seq - static_cast<uint16_t>(reference)));
  return reference + delta;
}

void audio_jitter_buffer::add(int64_t position, uint32_t timestamp, const uint8_t* frame,
                              unsigned length) {
  if (packets_.count(position)) {
    ++discarded_;
    return;
  }
  packet& p = packets_[position];
  p.timestamp = timestamp;
  p.frame.assign(frame, frame + length);
}

void audio_jitter_buffer::insert(uint16_t seq, uint32_t timestamp, const uint8_t* frame,
                                 unsigned length) {
  if (!frame || length == 0)
    return;
  if (buffering_) {
    if (packets_.empty())
      reference_ = seq;
    if (packets_.size() < initial_packets) {
      add(unwrap(seq, reference_), timestamp, frame, length);
      return;
    }
    last_played_ = packets_.begin()->first - 1;
    buffering_ = false;
  }
  const int64_t position = unwrap(seq, last_played_);
  if (position <= last_played_) {
    ++discarded_;
    return;
  }
  add(position, timestamp, frame, length);
  while (!packets_.empty()) {
    const int64_t expected = last_played_ + 1;
    auto oldest = packets_.begin();
    if (oldest->first != expected) {
      if (packets_.size() < skip_gap_at)
        break;
      out_.frames_lost(static_cast<unsigned>(oldest->first - expected));
    }
    out_.play_frame(oldest->second.frame.data(),
                    static_cast<unsigned>(oldest->second.frame.size()));
    last_played_ = oldest->first;
    packets_.erase(oldest);
  }
}

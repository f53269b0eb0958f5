#include "video_stream.h"

#include <algorithm>

namespace mcu {

namespace {
constexpr uint16_t slot_mask = video_stream::cache_slots - 1;
// The smallest transit is taken over the last one to two windows, so a changed route (or
// clock drift) is followed.
constexpr uint64_t min_transit_window_ms = 5000;
}  // namespace

bool opens_key_frame(const uint8_t* packet, std::size_t length) {
  // header, RED byte, then 00 00 01 or 00 00 00 01 and the NAL header
  const std::size_t at = velrtp_header_size + 1;
  if (length < at + 4)
    return false;
  const uint8_t* p = packet + at;
  std::size_t nal = 0;
  if (p[0] == 0 && p[1] == 0 && p[2] == 1)
    nal = 3;
  else if (length >= at + 5 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1)
    nal = 4;
  else
    return false;
  const int type = p[nal] & 0x1f;
  return type == 5 || type == 7 || type == 8;
}

bool video_stream::store(const velrtp_header& rtp, const uint8_t* packet, std::size_t length,
                         uint64_t now_ms) {
  slot& s = slots_[rtp.sequence & slot_mask];
  if (s.used && s.sequence == rtp.sequence)
    return false;
  s.used = true;
  s.sequence = rtp.sequence;
  s.timestamp = rtp.timestamp;
  s.bytes.assign(packet, packet + length);

  if (!have_newest_) {
    have_newest_ = true;
    newest_ = rtp.sequence;
  } else if (seq_newer(rtp.sequence, newest_)) {
    const uint16_t skipped = static_cast<uint16_t>(rtp.sequence - newest_ - 1);
    if (skipped < cache_slots)  // a larger jump is a restart, not a loss
      period_.missing += skipped;
    newest_ = rtp.sequence;
  }
  ++period_.received;
  note_frame(rtp.timestamp, now_ms);

  if (opens_key_frame(packet, length)) {
    const bool newer_frame = !have_key_ || static_cast<int32_t>(rtp.timestamp - key_timestamp_) > 0;
    if (newer_frame) {
      have_key_ = true;
      key_sequence_ = rtp.sequence;
      key_timestamp_ = rtp.timestamp;
    } else if (rtp.timestamp == key_timestamp_ && seq_newer(key_sequence_, rtp.sequence)) {
      key_sequence_ = rtp.sequence;  // an earlier piece of the same key frame came late
    }
  }
  return true;
}

void video_stream::note_frame(uint32_t timestamp, uint64_t now_ms) {
  if (have_frame_ && static_cast<int32_t>(timestamp - frame_timestamp_) <= 0)
    return;  // not the first packet of a newer frame
  have_frame_ = true;
  frame_timestamp_ = timestamp;
  // Both clocks count milliseconds; only differences of their difference matter.
  const int64_t transit = static_cast<int64_t>(now_ms) - static_cast<int64_t>(timestamp);
  if (now_ms - window_start_ms_ >= min_transit_window_ms) {
    min_transit_before_ = min_transit_now_;
    min_transit_now_ = std::numeric_limits<int64_t>::max();
    window_start_ms_ = now_ms;
  }
  min_transit_now_ = std::min(min_transit_now_, transit);
  const int64_t floor = std::min(min_transit_now_, min_transit_before_);
  period_.delay_sum_ms += static_cast<uint64_t>(transit - floor);
  ++period_.frames;
}

const std::vector<uint8_t>* video_stream::find(uint16_t sequence) const {
  const slot& s = slots_[sequence & slot_mask];
  return s.used && s.sequence == sequence ? &s.bytes : nullptr;
}

std::vector<uint16_t> video_stream::from_last_key_frame() const {
  std::vector<uint16_t> out;
  if (!have_key_ || !have_newest_)
    return out;
  const slot& first = slots_[key_sequence_ & slot_mask];
  if (!first.used || first.sequence != key_sequence_ || first.timestamp != key_timestamp_)
    return out;
  const unsigned count = static_cast<uint16_t>(newest_ - key_sequence_) + 1u;
  if (count > cache_slots)
    return out;
  out.reserve(count);
  for (unsigned i = 0; i < count; ++i) {
    const uint16_t sequence = static_cast<uint16_t>(key_sequence_ + i);
    if (find(sequence))
      out.push_back(sequence);
  }
  return out;
}

void video_stream::reset() {
  for (slot& s : slots_) {
    s.used = false;
    s.bytes.clear();
  }
  for (asked& a : asked_)
    a.used = false;
  have_newest_ = false;
  have_frame_ = false;
  min_transit_now_ = min_transit_before_ = std::numeric_limits<int64_t>::max();
  window_start_ms_ = 0;
  have_key_ = false;
  period_ = period{};
}

bool video_stream::should_ask(uint16_t sequence, uint64_t now_ms, uint32_t gap_ms) {
  asked& a = asked_[sequence & slot_mask];
  if (a.used && a.sequence == sequence && now_ms - a.at_ms < gap_ms)
    return false;
  a.used = true;
  a.sequence = sequence;
  a.at_ms = now_ms;
  return true;
}

video_stream::period video_stream::take_period() {
  period p = period_;
  period_ = period{};
  return p;
}

bool listener_losses::reported(uint16_t sequence, uint64_t now_ms, uint32_t gap_ms, bool* is_new) {
  entry& e = entries_[sequence & slot_mask];
  if (e.used && e.sequence == sequence) {
    *is_new = false;
    if (now_ms - e.sent_ms < gap_ms)
      return false;
    e.sent_ms = now_ms;
    return true;
  }
  e.used = true;
  e.sequence = sequence;
  e.sent_ms = now_ms;
  *is_new = true;
  ++new_losses_;
  return true;
}

uint32_t listener_losses::take_new_losses() {
  const uint32_t n = new_losses_;
  new_losses_ = 0;
  return n;
}

bool period_feedback(uint32_t received, uint32_t upstream_missing, uint32_t worst_listener_losses,
                     uint32_t min_packets, uint32_t* loss_256, uint32_t* level) {
  const uint64_t sent = uint64_t{received} + upstream_missing;
  if (sent < min_packets || sent == 0)
    return false;
  const double upstream = double(upstream_missing) / double(sent);
  const double downstream =
      received ? std::min(1.0, double(worst_listener_losses) / double(received)) : 0.0;
  const double loss = std::max(upstream, downstream);
  *loss_256 = std::min<uint32_t>(255, static_cast<uint32_t>(loss * 256.0));
  *level = static_cast<uint32_t>(loss * 100.0 + 0.5);
  return true;
}

}  // namespace mcu

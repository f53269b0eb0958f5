#include "rtp_frame_assembler.h"

#include <algorithm>
#include <iterator>

namespace pavo {

namespace {

// A frame whose timestamp is this far behind the newest packet's will not complete any more.
constexpr int64_t stale_span = 60000;
// Newer frames spanning this long behind an incomplete oldest frame mean it is lost.
constexpr int64_t give_up_span = 201;
// Without a complete key frame, at most this many frames wait.
constexpr std::size_t max_frames_waiting = 60;
// Where unwrapped values start, so they stay positive whichever way the first one moves.
constexpr int64_t sequence_origin = int64_t{1} << 32;
constexpr int64_t timestamp_origin = int64_t{1} << 40;

bool start_code(const std::vector<uint8_t>& data, std::size_t* nal) {
  if (data.size() >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1) {
    *nal = 3;
    return true;
  }
  if (data.size() >= 5 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1) {
    *nal = 4;
    return true;
  }
  return false;
}

}  // namespace

bool rtp_frame::add(int64_t number, bool marker, const uint8_t* data, std::size_t length) {
  if (packets.count(number))
    return false;
  piece& p = packets[number];
  p.marker = marker;
  p.data.assign(data, data + length);
  bytes += length;
  if (marker) {
    last_found = true;
    last_number = number;
  }
  std::size_t nal = 0;
  start_found = start_code(packets.begin()->second.data, &nal);
  if (start_found) {
    const int nal_type = packets.begin()->second.data[nal] & 0x1f;
    type = (nal_type == 5 || nal_type == 7 || nal_type == 8) ? 3 : 4;
  }
  if (start_found && last_found && last_number >= first()) {
    const auto end = packets.upper_bound(last_number);
    const auto count = static_cast<int64_t>(std::distance(packets.begin(), end));
    complete = count == last_number - first() + 1;
  } else {
    complete = false;
  }
  return true;
}

int64_t rtp_frame_assembler::unwrap_sequence(uint16_t sequence) const {
  if (!have_reference_)
    return sequence_origin + sequence;
  return sequence_reference_ + static_cast<int16_t>(static_cast<uint16_t>(
                                   sequence - static_cast<uint16_t>(sequence_reference_)));
}

int64_t rtp_frame_assembler::unwrap_timestamp(uint32_t timestamp) const {
  if (!have_reference_)
    return timestamp_origin + timestamp;
  return timestamp_reference_ +
         static_cast<int32_t>(timestamp - static_cast<uint32_t>(timestamp_reference_));
}

bool rtp_frame_assembler::drop_early(uint16_t sequence) const {
  return !resync_ && have_reference_ && unwrap_sequence(sequence) < last_sequence_;
}

void rtp_frame_assembler::on_packet(const velrtp_header& header, const uint8_t* payload,
                                    unsigned length, output* out) {
  const int64_t number = unwrap_sequence(header.sequence);
  const int64_t timestamp = unwrap_timestamp(header.timestamp);
  if (!have_reference_ || number > sequence_reference_)
    sequence_reference_ = number;
  if (!have_reference_ || timestamp > timestamp_reference_)
    timestamp_reference_ = timestamp;
  have_reference_ = true;

  // A packet of a frame already decoded (or skipped) is late.
  if (!resync_ && timestamp <= last_timestamp_) {
    if (number > last_sequence_)
      last_sequence_ = number;
    return;
  }
  // The RED byte is skipped.
  const uint8_t* data = payload;
  std::size_t size = 0;
  if (payload && length > 1) {
    data = payload + 1;
    size = length - 1;
  }
  if (frames_.size() > 1 && timestamp - frames_.begin()->first > stale_span) {
    forget_numbers_through(frames_.begin()->second.packets.rbegin()->first);
    frames_.erase(frames_.begin());
  }
  // Once decoding runs every number after the decoded one counts; while searching for a key
  // frame only numbers above the smallest held do.
  const bool counts = resync_ ? (received_.empty() || number > *received_.begin())
                              : number > continuous_through_ && number > last_sequence_;
  if (counts)
    received_.insert(number);
  frames_[timestamp].add(number, header.marker != 0, data, size);
  schedule(out);
  if (!resync_)
    received_.erase(received_.begin(), received_.lower_bound(last_sequence_));
}

void rtp_frame_assembler::decode_front(output* out) {
  auto front = frames_.begin();
  rtp_frame& frame = front->second;
  last_sequence_ = frame.last_number;
  last_timestamp_ = front->first;
  std::vector<uint8_t> joined;
  joined.reserve(frame.bytes);
  for (const auto& packet : frame.packets) {
    if (packet.first > frame.last_number)
      break;
    joined.insert(joined.end(), packet.second.data.begin(), packet.second.data.end());
  }
  out->frames.push_back(std::move(joined));
  frames_.erase(front);
  decoded_any_ = true;
  if (bad_network_) {
    bad_network_ = false;
    out->net_states.push_back(0);
  }
}

bool rtp_frame_assembler::decode_in_order(output* out) {
  bool any = false;
  while (!frames_.empty() && frames_.begin()->second.complete &&
         frames_.begin()->second.first() == last_sequence_ + 1) {
    decode_front(out);
    any = true;
  }
  return any;
}

void rtp_frame_assembler::schedule(output* out) {
  if (frames_.empty())
    return;
  if (!resync_) {
    if (decode_in_order(out))
      return;
    if (frames_.empty() || frames_.rbegin()->first - frames_.begin()->first < give_up_span)
      return;  // the oldest may still complete
    if (!bad_network_) {
      bad_network_ = true;
      out->net_states.push_back(1);
    }
  }
  // Key-frame search: the newest pictures can only be decoded from a key frame on.
  for (auto it = frames_.begin(); it != frames_.end(); ++it) {
    if (!it->second.complete || it->second.type != 3)
      continue;
    frames_.erase(frames_.begin(), it);
    decode_front(out);
    resync_ = false;
    while (!frames_.empty() && frames_.begin()->second.first() <= last_sequence_)
      frames_.erase(frames_.begin());
    decode_in_order(out);
    return;
  }
  if (frames_.size() >= max_frames_waiting) {
    forget_numbers_through(frames_.begin()->second.packets.rbegin()->first);
    frames_.erase(frames_.begin());
  }
}

void rtp_frame_assembler::forget_numbers_through(int64_t number) {
  received_.erase(received_.begin(), received_.upper_bound(number));
}

std::vector<uint16_t> rtp_frame_assembler::loss_list(std::size_t limit) {
  std::vector<uint16_t> missing;
  bool have_previous = false;
  int64_t previous = 0;
  if (!resync_) {
    // What continues the decoded number arrived in order: only the end of that run matters.
    int64_t next = std::max(last_sequence_, continuous_through_) + 1;
    for (auto it = received_.find(next); it != received_.end() && *it == next;
         it = received_.erase(it))
      ++next;
    continuous_through_ = next - 1;
    previous = continuous_through_;
    have_previous = true;
  }
  for (int64_t number : received_) {
    if (have_previous && number <= previous)
      continue;
    if (have_previous) {
      for (int64_t n = previous + 1; n < number; ++n) {
        missing.push_back(static_cast<uint16_t>(n));
        if (missing.size() > limit)
          return missing;
      }
    }
    previous = number;
    have_previous = true;
  }
  return missing;
}

}  // namespace pavo

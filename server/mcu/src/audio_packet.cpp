#include "audio_packet.h"

namespace mcu {
namespace {

constexpr unsigned primary_offset = 14;
constexpr unsigned block_header = 8;

void put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, static_cast<uint16_t>(v >> 16));
  put16(out, static_cast<uint16_t>(v));
}
uint16_t get16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
uint32_t get32(const uint8_t* p) {
  return (uint32_t{get16(p)} << 16) | get16(p + 2);
}

}  // namespace

bool parse_audio_frames(const uint8_t* data, std::size_t length,
                        std::vector<audio_frame_view>* frames) {
  frames->clear();
  if (!data || length < primary_offset || data[0] != 0x90 || (data[1] & 0x7f) != 2)
    return false;
  audio_frame_view primary;
  primary.length = get16(data + 12);
  if (primary.length == 0 || primary.length > length - primary_offset)
    return false;
  primary.seq = get16(data + 2);
  primary.timestamp = get32(data + 4);
  primary.data = data + primary_offset;
  frames->push_back(primary);
  std::size_t at = primary_offset + primary.length;
  while (length - at >= block_header) {
    audio_frame_view block;
    block.length = get16(data + at);
    if (block.length == 0 || block.length > length - at - block_header)
      break;
    block.seq = get16(data + at + 2);
    block.timestamp = get32(data + at + 4);
    block.data = data + at + block_header;
    frames->push_back(block);
    at += block_header + block.length;
  }
  return true;
}

std::vector<uint8_t> audio_stream_packetizer::next(const uint8_t* frame, unsigned length,
                                                   uint32_t samples) {
  std::vector<uint8_t> out;
  if (!frame || length == 0 || length > audio_datagram_max - primary_offset)
    return out;
  std::size_t first = 0;
  for (; first < history_.size(); ++first) {
    std::size_t size = primary_offset + length;
    for (std::size_t i = first; i < history_.size(); ++i)
      size += block_header + history_[i].frame.size();
    if (size <= audio_datagram_max)
      break;
  }
  out.reserve(audio_datagram_max);
  out.push_back(0x90);
  out.push_back(2);
  put16(out, seq_);
  put32(out, timestamp_);
  put32(out, ssrc_);
  put16(out, static_cast<uint16_t>(length));
  out.insert(out.end(), frame, frame + length);
  for (std::size_t i = first; i < history_.size(); ++i) {
    put16(out, static_cast<uint16_t>(history_[i].frame.size()));
    put16(out, history_[i].seq);
    put32(out, history_[i].timestamp);
    out.insert(out.end(), history_[i].frame.begin(), history_[i].frame.end());
  }
  if (history_.size() == 2)
    history_.erase(history_.begin());
  history_.push_back(earlier{std::vector<uint8_t>(frame, frame + length), seq_, timestamp_});
  ++seq_;
  timestamp_ += samples;
  return out;
}

}  // namespace mcu

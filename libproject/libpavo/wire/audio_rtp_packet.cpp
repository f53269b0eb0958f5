#include "audio_rtp_packet.h"

#include <cstring>

namespace {

void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
uint16_t get16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
uint32_t get32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

unsigned audio_rtp_packetizer::packetize(const uint8_t* frame, unsigned length, uint32_t timestamp,
                                         uint8_t* out) {
  if (!frame || length == 0 || length > audio_max_datagram - audio_primary_offset)
    return 0;
  // The newest earlier frames that still fit.
  unsigned first = 0;
  unsigned size = 0;
  for (first = 0; first <= history_count_; ++first) {
    size = audio_primary_offset + length;
    for (unsigned i = first; i < history_count_; ++i)
      size += audio_block_header_size + history_[i].length;
    if (size <= audio_max_datagram)
      break;
  }
  const uint16_t seq = next_seq_++;
  out[0] = audio_rtp_first_byte;
  out[1] = audio_payload_type;
  put16(out + 2, seq);
  put32(out + 4, timestamp);
  put32(out + 8, ssrc_);
  put16(out + 12, static_cast<uint16_t>(length));
  std::memcpy(out + audio_primary_offset, frame, length);
  unsigned at = audio_primary_offset + length;
  for (unsigned i = first; i < history_count_; ++i) {
    const his_rtp_data_t& h = history_[i];
    put16(out + at, static_cast<uint16_t>(h.length));
    put16(out + at + 2, h.seq);
    put32(out + at + 4, h.timestamp);
    std::memcpy(out + at + audio_block_header_size, h.data, h.length);
    at += audio_block_header_size + h.length;
  }

  if (history_count_ == history_size) {
    history_[0] = history_[1];
    --history_count_;
  }
  his_rtp_data_t& entry = history_[history_count_++];
  entry.length = length;
  std::memcpy(entry.data, frame, length);
  entry.seq = seq;
  entry.timestamp = timestamp;
  return at;
}

bool parse_audio_datagram(const uint8_t* data, unsigned length, audio_frame_ref* primary,
                          std::vector<audio_frame_ref>* redundancy) {
  redundancy->clear();
  if (!data || length < audio_primary_offset || data[0] != audio_rtp_first_byte ||
      (data[1] & 0x7f) != audio_payload_type)
    return false;
  const unsigned frame_length = get16(data + 12);
  if (frame_length == 0 || frame_length > length - audio_primary_offset)
    return false;
  primary->seq = get16(data + 2);
  primary->timestamp = get32(data + 4);
  primary->data = data + audio_primary_offset;
  primary->length = frame_length;
  unsigned at = audio_primary_offset + frame_length;
  while (length - at >= audio_block_header_size) {
    audio_frame_ref block;
    block.length = get16(data + at);
    if (block.length == 0 || block.length > length - at - audio_block_header_size)
      break;
    block.seq = get16(data + at + 2);
    block.timestamp = get32(data + at + 4);
    block.data = data + at + audio_block_header_size;
    redundancy->push_back(block);
    at += audio_block_header_size + block.length;
  }
  return true;
}

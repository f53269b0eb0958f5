#include "audio_rtp_packet.h"

#include <cstring>

#include "wirebytes/byte_reader.h"
#include "wirebytes/byte_writer.h"

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
  wirebytes::span_writer w(out, audio_max_datagram);
  w.u8(audio_rtp_first_byte).u8(audio_payload_type).u16(seq).u32(timestamp).u32(ssrc_);
  w.u16(static_cast<uint16_t>(length)).bytes(frame, length);
  for (unsigned i = first; i < history_count_; ++i) {
    const his_rtp_data_t& h = history_[i];
    w.u16(static_cast<uint16_t>(h.length)).u16(h.seq).u32(h.timestamp).bytes(h.data, h.length);
  }
  const unsigned at = static_cast<unsigned>(w.position());

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
  wirebytes::byte_reader in(data, length);
  const uint8_t first = in.u8(), payload_type = in.u8();
  if (first != audio_rtp_first_byte || (payload_type & 0x7f) != audio_payload_type)
    return false;
  const uint16_t seq = in.u16();
  const uint32_t timestamp = in.u32();
  in.skip(4);  // SSRC
  const unsigned frame_length = in.u16();
  const uint8_t* frame = in.bytes(frame_length);
  if (!in.ok() || frame_length == 0)
    return false;
  primary->seq = seq;
  primary->timestamp = timestamp;
  primary->data = frame;
  primary->length = frame_length;
  while (in.remaining() >= audio_block_header_size) {
    audio_frame_ref block;
    block.length = in.u16();
    block.seq = in.u16();
    block.timestamp = in.u32();
    block.data = in.bytes(block.length);
    if (block.length == 0 || !block.data)
      break;
    redundancy->push_back(block);
  }
  return true;
}

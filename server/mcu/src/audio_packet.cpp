#include "audio_packet.h"

#include <climits>

namespace mcu {

bool parse_audio_frames(const uint8_t* data, std::size_t length,
                        std::vector<audio_frame_view>* frames) {
  frames->clear();
  if (length > UINT_MAX)
    return false;
  audio_frame_ref primary;
  thread_local std::vector<audio_frame_ref> redundancy;
  if (!parse_audio_datagram(data, static_cast<unsigned>(length), &primary, &redundancy))
    return false;
  frames->push_back(audio_frame_view{primary.seq, primary.timestamp, primary.data, primary.length});
  for (const audio_frame_ref& block : redundancy)
    frames->push_back(audio_frame_view{block.seq, block.timestamp, block.data, block.length});
  return true;
}

std::vector<uint8_t> audio_stream_packetizer::next(const uint8_t* frame, unsigned length,
                                                   uint32_t samples) {
  std::vector<uint8_t> out(audio_max_datagram);
  out.resize(packetizer_.packetize(frame, length, timestamp_, out.data()));
  if (!out.empty())
    timestamp_ += samples;
  return out;
}

}  // namespace mcu

// Fuzz entry for the room audio datagram (audio_rtp_packet.h), as the clients and the MCU
// receive it: the input is one datagram. Every frame the parser returns must lie inside the
// datagram (an exact copy, so a read past it shows under the sanitizers). The frames found
// are then sent on through a packetiser and must parse back as they were, with the earlier
// ones as redundancy.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio_rtp_packet.h"

namespace {

bool inside(const audio_frame_ref& f, const uint8_t* begin, std::size_t size) {
  return f.length > 0 && f.data >= begin && f.length <= size &&
         f.data - begin <= static_cast<std::ptrdiff_t>(size - f.length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > audio_max_datagram)
    return 0;  // longer datagrams are dropped unread by the receivers
  const std::vector<uint8_t> datagram(data, data + size);
  audio_frame_ref primary;
  std::vector<audio_frame_ref> redundancy;
  if (!parse_audio_datagram(datagram.data(), static_cast<unsigned>(size), &primary, &redundancy))
    return 0;
  if (!inside(primary, datagram.data(), size) || redundancy.size() > (size - 14) / 9)
    std::abort();
  for (const audio_frame_ref& block : redundancy)
    if (!inside(block, datagram.data(), size))
      std::abort();

  // Round trip: the frames again, oldest first, then the current one.
  std::vector<const audio_frame_ref*> frames;
  for (const audio_frame_ref& block : redundancy)
    frames.push_back(&block);
  frames.push_back(&primary);
  audio_rtp_packetizer packetizer(0x1234);
  std::vector<uint8_t> out(audio_max_datagram);
  std::vector<audio_frame_ref> back_redundancy;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const audio_frame_ref& f = *frames[i];
    const unsigned n = packetizer.packetize(f.data, f.length, f.timestamp, out.data());
    if (n == 0 || n > audio_max_datagram)
      std::abort();  // a frame that came in a datagram fits one
    audio_frame_ref back;
    if (!parse_audio_datagram(out.data(), n, &back, &back_redundancy))
      std::abort();
    if (back.length != f.length || back.timestamp != f.timestamp ||
        std::memcmp(back.data, f.data, f.length) != 0)
      std::abort();
    if (back_redundancy.size() > i || back_redundancy.size() > 2)
      std::abort();
    // What rides along is the newest of the earlier frames, oldest first.
    for (std::size_t k = 0; k < back_redundancy.size(); ++k) {
      const audio_frame_ref& earlier = *frames[i - back_redundancy.size() + k];
      if (back_redundancy[k].length != earlier.length ||
          std::memcmp(back_redundancy[k].data, earlier.data, earlier.length) != 0)
        std::abort();
    }
  }
  return 0;
}

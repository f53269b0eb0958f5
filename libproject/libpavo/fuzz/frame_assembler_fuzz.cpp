// Fuzz entry for the receive side of a video stream after FEC: the input is a run of
// datagrams, each a big-endian u16 length and that many bytes (cut at the end). Each is read
// as the receiver reads it (velrtp_read_header, the early drop of late numbers) and its
// payload goes to the frame assembler, with a loss list taken now and then. The frames that
// come out can only be made of the bytes that went in, loss lists keep to their limit, and
// the frames held stay bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "rtp_frame_assembler.h"

namespace {

volatile uint32_t sink;

void touch(const std::vector<uint8_t>& data) {
  uint32_t sum = 0;
  for (uint8_t b : data)
    sum += b;
  sink = sink + sum;
}

// Frames waiting: at most one per millisecond of the give-up span, plus those held while a
// key frame is looked for.
constexpr std::size_t max_frames = 512;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  pavo::rtp_frame_assembler assembler;
  std::size_t at = 0, fed = 0, delivered = 0;
  unsigned packets = 0;
  while (size - at >= 2) {
    std::size_t length = (std::size_t(data[at]) << 8) | data[at + 1];
    at += 2;
    if (length > size - at)
      length = size - at;
    // An exact copy, so reading past it shows under the sanitizers.
    const std::vector<uint8_t> datagram(data + at, data + at + length);
    at += length;

    velrtp_header header;
    if (!velrtp_read_header(datagram.data(), static_cast<unsigned>(datagram.size()), &header) ||
        assembler.drop_early(header.sequence))
      continue;
    const unsigned payload = static_cast<unsigned>(datagram.size() - velrtp_header_size);
    fed += payload;
    pavo::rtp_frame_assembler::output out;
    assembler.on_packet(header, payload ? datagram.data() + velrtp_header_size : nullptr, payload,
                        &out);
    for (const auto& frame : out.frames) {
      delivered += frame.size();
      touch(frame);
    }
    for (int state : out.net_states)
      if (state != 0 && state != 1)
        std::abort();
    if (delivered > fed || assembler.frames_held() > max_frames)
      std::abort();
    if (++packets % 8 == 0 && assembler.loss_list(2000).size() > 2001)
      std::abort();
  }
  if (assembler.loss_list(50).size() > 51)
    std::abort();
  return 0;
}

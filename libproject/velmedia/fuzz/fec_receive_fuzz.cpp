// Fuzz entry for the receiving side of the video FEC (received_fec_packet): the input is a
// run of datagrams, each a big-endian u16 length and that many bytes (cut at the end), fed to
// one receiver of kind 1 with the usual payload types (100 media, 101 FEC). What it delivers,
// received or rebuilt, must be a media packet of a sane size, and no number is delivered
// twice while the receiver still holds it (a number 1024 away takes its slot).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "velmedia/velfec.h"

namespace {

volatile uint32_t sink;

// The last number delivered in each of the receiver's 1024 slots.
struct delivered {
  std::vector<int> last = std::vector<int>(1024, -1);
};

void on_media(const velrtp_header* header, const uint8_t* payload, unsigned length, void* user) {
  if (!header || header->payload_type != 100 || length == 0 || length > 1500 || !payload)
    std::abort();
  uint32_t sum = 0;
  for (unsigned i = 0; i < length; ++i)
    sum += payload[i];
  sink = sink + sum;
  int& last = static_cast<delivered*>(user)->last[header->sequence % 1024];
  if (last == header->sequence)
    std::abort();  // delivered again while held
  last = header->sequence;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  delivered seen;
  std::unique_ptr<received_fec_packet> receiver(
      received_fec_packet::create(100, 101, 1, on_media, &seen));
  if (!receiver)
    std::abort();
  std::size_t at = 0;
  while (size - at >= 2) {
    std::size_t length = (std::size_t(data[at]) << 8) | data[at + 1];
    at += 2;
    if (length > size - at)
      length = size - at;
    // An exact copy, so reading past it shows under the sanitizers.
    const std::vector<uint8_t> datagram(data + at, data + at + length);
    at += length;
    const int result = receiver->feed(datagram.empty() ? nullptr : datagram.data(),
                                      static_cast<unsigned>(datagram.size()));
    if (result != 0 && result != -1)
      std::abort();
  }
  return 0;
}

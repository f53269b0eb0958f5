// Fuzz entry for the receiving side of the video FEC (received_fec_packet): the input is a
// run of datagrams, each a big-endian u16 length and that many bytes (cut at the end), fed to
// one receiver of kind 1 with the usual payload types (100 media, 101 FEC). What it delivers,
// received or rebuilt, must be a media packet of a sane size, and no number is delivered
// twice while it is still among the last 1024 delivered.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <set>
#include <vector>

#include "velmedia/velfec.h"

namespace {

volatile uint32_t sink;

struct delivered {
  std::deque<uint16_t> order;
  std::multiset<uint16_t> recent;
};

void on_media(const velrtp_header* header, const uint8_t* payload, unsigned length, void* user) {
  if (!header || header->payload_type != 100 || length == 0 || length > 1500 || !payload)
    std::abort();
  uint32_t sum = 0;
  for (unsigned i = 0; i < length; ++i)
    sum += payload[i];
  sink = sink + sum;
  auto* seen = static_cast<delivered*>(user);
  if (seen->recent.count(header->sequence))
    std::abort();
  seen->order.push_back(header->sequence);
  seen->recent.insert(header->sequence);
  if (seen->order.size() > 1024) {
    seen->recent.erase(seen->recent.find(seen->order.front()));
    seen->order.pop_front();
  }
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

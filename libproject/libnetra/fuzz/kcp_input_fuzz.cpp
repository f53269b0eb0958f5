// Fuzz entry for what a KCP peer sends us: the input is
//   bytes 0-3: conv of the receiving session (little-endian, as in the segments)
//   then a run of datagrams, each a big-endian u16 length and that many bytes (cut at the end)
// Each datagram is checked by inspect_datagram and fed to a session, the clock moving 10 ms
// between datagrams; whole messages are taken out and read as control messages. A datagram
// inspect_datagram refuses must leave the session untouched, nothing the session sends may
// exceed the MTU, and no message may exceed what the session promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "netra/kcp_frame.h"
#include "netra/kcp_segment.h"
#include "netra/kcp_session.h"
#include "wirebytes/byte_order.h"

namespace {

volatile uint32_t sink;

void touch(const uint8_t* data, std::size_t length) {
  uint32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i)
    sum += data[i];
  sink = sink + sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 4)
    return 0;
  const uint32_t conv = wirebytes::get_le32(data);
  netra::kcp_config config;
  netra::kcp_session session(conv, [&](const uint8_t* out, std::size_t n) {
    if (n > config.mtu)
      std::abort();
    touch(out, n);
  });
  // Something of our own in flight, so acknowledgements and window changes have work to do.
  const uint8_t hello[8] = {0, 0, 0, 0, 0, 0, 0, 8};
  session.send(hello, sizeof hello);
  uint32_t now = 0xfffff000u;  // across the 32-bit wrap
  session.update(now);

  std::size_t at = 4;
  std::vector<uint8_t> message;
  while (size - at >= 2) {
    std::size_t length = (std::size_t(data[at]) << 8) | data[at + 1];
    at += 2;
    if (length > size - at)
      length = size - at;
    // An exact copy of the datagram, so reading past it shows under the sanitizers.
    const std::vector<uint8_t> datagram(data + at, data + at + length);
    at += length;

    const netra::kcp_datagram_info info = netra::inspect_datagram(datagram.data(), datagram.size());
    const netra::kcp_stats before = session.stats();
    const int result = session.input(datagram.data(), datagram.size());
    if (!info.valid && result >= 0)
      std::abort();  // accepted what the check refused
    if (result < 0 && session.stats().datagrams_in != before.datagrams_in)
      std::abort();

    now += 10;
    session.update(now);
    while (session.receive(message) >= 0) {
      if (message.size() > session.max_message_size())
        std::abort();
      kcp_header_t header;
      if (netra::decode_control_message(message.data(), message.size(), &header) &&
          header.length + netra::control_header_size != message.size())
        std::abort();
      touch(message.data(), message.size());
    }
  }
  return 0;
}

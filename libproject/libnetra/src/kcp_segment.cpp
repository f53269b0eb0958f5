#include "netra/kcp_segment.h"

#include "wirebytes/byte_reader.h"
#include "wirebytes/byte_writer.h"

namespace netra {

void encode_segment_header(const kcp_segment_header& h, uint8_t* out) {
  wirebytes::span_writer(out, kcp_overhead)
      .le32(h.conv)
      .u8(h.cmd)
      .u8(h.frg)
      .le16(h.wnd)
      .le32(h.ts)
      .le32(h.sn)
      .le32(h.una)
      .le32(h.len);
}

bool decode_segment_header(const uint8_t* data, std::size_t size, kcp_segment_header* h) {
  if (!h)
    return false;
  wirebytes::byte_reader in(data, size);
  kcp_segment_header read;
  read.conv = in.le32();
  read.cmd = in.u8();
  read.frg = in.u8();
  read.wnd = in.le16();
  read.ts = in.le32();
  read.sn = in.le32();
  read.una = in.le32();
  read.len = in.le32();
  if (!in.ok())
    return false;
  *h = read;
  return true;
}

kcp_datagram_info inspect_datagram(const uint8_t* data, std::size_t size) {
  kcp_datagram_info info;
  if (!data || size < kcp_overhead)
    return info;
  std::size_t pos = 0;
  while (pos < size) {
    kcp_segment_header h;
    if (!decode_segment_header(data + pos, size - pos, &h))
      return kcp_datagram_info{};  // a partial header after the last segment
    pos += kcp_overhead;
    if (h.len > size - pos)
      return kcp_datagram_info{};
    if (h.cmd < kcp_cmd_push || h.cmd > kcp_cmd_wins)
      return kcp_datagram_info{};
    if (info.segments == 0)
      info.conv = h.conv;
    else if (h.conv != info.conv)
      return kcp_datagram_info{};
    // Only data segments carry data; anything else with a body is not from a KCP peer.
    if (h.cmd != kcp_cmd_push && h.len != 0)
      return kcp_datagram_info{};
    if (h.cmd == kcp_cmd_wask || (h.cmd == kcp_cmd_push && h.sn == 0))
      info.opens = true;
    if (h.len > info.max_len)
      info.max_len = h.len;
    pos += h.len;
    ++info.segments;
  }
  info.valid = true;
  return info;
}

}  // namespace netra

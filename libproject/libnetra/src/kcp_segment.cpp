#include "netra/kcp_segment.h"

namespace netra {

namespace {

void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint16_t get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void encode_segment_header(const kcp_segment_header& h, uint8_t* out) {
  put32(out, h.conv);
  out[4] = h.cmd;
  out[5] = h.frg;
  put16(out + 6, h.wnd);
  put32(out + 8, h.ts);
  put32(out + 12, h.sn);
  put32(out + 16, h.una);
  put32(out + 20, h.len);
}

bool decode_segment_header(const uint8_t* data, std::size_t size, kcp_segment_header* h) {
  if (!data || !h || size < kcp_overhead)
    return false;
  h->conv = get32(data);
  h->cmd = data[4];
  h->frg = data[5];
  h->wnd = get16(data + 6);
  h->ts = get32(data + 8);
  h->sn = get32(data + 12);
  h->una = get32(data + 16);
  h->len = get32(data + 20);
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

#include "netra/kcp_frame.h"

#include <cstring>

namespace netra {

void encode_control_header(const kcp_header_t& h, uint8_t* out) {
  out[0] = static_cast<uint8_t>(h.reserved >> 8);
  out[1] = static_cast<uint8_t>(h.reserved);
  out[2] = static_cast<uint8_t>(h.length >> 8);
  out[3] = static_cast<uint8_t>(h.length);
  out[4] = static_cast<uint8_t>(h.type >> 24);
  out[5] = static_cast<uint8_t>(h.type >> 16);
  out[6] = static_cast<uint8_t>(h.type >> 8);
  out[7] = static_cast<uint8_t>(h.type);
}

std::vector<uint8_t> make_control_message(const kcp_header_t& header, const void* payload,
                                          unsigned length) {
  if (header.length != length || (length > 0 && !payload))
    return {};
  std::vector<uint8_t> msg(control_header_size + length);
  encode_control_header(header, msg.data());
  if (length > 0)
    std::memcpy(msg.data() + control_header_size, payload, length);
  return msg;
}

bool decode_control_message(const uint8_t* data, std::size_t size, kcp_header_t* header) {
  if (!data || !header || size < control_header_size)
    return false;
  kcp_header_t h;
  h.reserved = static_cast<uint16_t>((data[0] << 8) | data[1]);
  h.length = static_cast<uint16_t>((data[2] << 8) | data[3]);
  h.type = (static_cast<uint32_t>(data[4]) << 24) | (static_cast<uint32_t>(data[5]) << 16) |
           (static_cast<uint32_t>(data[6]) << 8) | static_cast<uint32_t>(data[7]);
  if (h.length != size - control_header_size)
    return false;
  *header = h;
  return true;
}

}  // namespace netra

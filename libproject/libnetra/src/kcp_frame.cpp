#include "netra/kcp_frame.h"

#include <cstring>

#include "wirebytes/byte_reader.h"
#include "wirebytes/byte_writer.h"

namespace netra {

void encode_control_header(const kcp_header_t& h, uint8_t* out) {
  wirebytes::span_writer(out, control_header_size).u16(h.reserved).u16(h.length).u32(h.type);
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
  if (!header)
    return false;
  wirebytes::byte_reader in(data, size);
  kcp_header_t h;
  h.reserved = in.u16();
  h.length = in.u16();
  h.type = in.u32();
  if (!in.ok() || h.length != in.remaining())
    return false;
  *header = h;
  return true;
}

}  // namespace netra

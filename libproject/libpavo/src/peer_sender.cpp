#include "peer_sender.h"

#include <cstring>

#include "control_wire.h"
#include "wirebytes/byte_order.h"
#include "woblog/woblog.h"

namespace pavo {

using namespace pavo_wire;

int send_peer_message(sendmsg2mcu& out, bool to_all, uint32_t id, const uint8_t* data,
                      unsigned length) {
  if ((!data && length > 0) || length > peer_message_max) {
    qn::log("peer message of %u bytes refused", length);
    return -1;
  }
  if (length <= peer_single_max) {
    uint8_t message[4 + peer_single_max];
    wirebytes::put_be32(message, id);
    if (length > 0)
      std::memcpy(message + 4, data, length);
    return out.send_msg(to_all ? msg_p2all : msg_p2p, message, 4 + length);
  }
  uint8_t piece[fragment_max];
  wirebytes::put_be32(piece, id);
  wirebytes::put_be32(piece + 8, length);
  for (unsigned offset = 0; offset < length; offset += fragment_data_max) {
    const unsigned size = length - offset < fragment_data_max ? length - offset : fragment_data_max;
    wirebytes::put_be32(piece + 4, offset);
    std::memcpy(piece + fragment_header, data + offset, size);
    if (out.send_msg(to_all ? msg_p2all_fragment : msg_p2p_fragment, piece,
                     fragment_header + size) != 0)
      return -1;
  }
  return 0;
}

}  // namespace pavo

// Peer messages on the way out: up to 2000 bytes as one message (64 to one user, 65 to all),
// longer ones as fragments (71 / 72) of at most 1388 data bytes.
#pragma once

#include <cstdint>

#include "sendmsg2mcu.h"

namespace pavo {

// `id` is the target (p2p) or the own user id (p2all). 0 when every piece was handed to the
// connection; -1 when refused (null data, above peer_message_max) or a send failed.
int send_peer_message(sendmsg2mcu& out, bool to_all, uint32_t id, const uint8_t* data,
                      unsigned length);

}  // namespace pavo

// Peer messages: one-to-one (64, 71) to the named member, broadcasts (65, 72) to every other
// member, acknowledgements (68, 69, 73, 74) back to the member named in their first word.
// The first word a receiver sees is always the id of the member the message came from.
#include "room_logic.h"
#include "wirebytes/byte_reader.h"
#include "wirebytes/byte_writer.h"

namespace mcu {

using namespace pavo_wire;

bool room_logic::route_peer(const member& from, uint32_t type, const uint8_t* p, unsigned length,
                            outbox& out) {
  if (type == msg_p2p_fragment || type == msg_p2all_fragment) {
    if (length < fragment_header || length > fragment_max)
      return false;
  }
  wirebytes::byte_reader in(p, length);
  const uint32_t target_id = in.u32();  // the receiver's (or, in an acknowledgement, the sender's)
  if (!in.ok())
    return false;
  bytes relayed;
  relayed.reserve(length);
  wirebytes::byte_writer(relayed).u32(from.user_id).bytes(in.here(), in.remaining());
  if (type == msg_p2all || type == msg_p2all_fragment) {
    to_others(out, from, type, relayed);
    return true;
  }
  member* target = find_user(target_id);
  if (!target)
    return false;
  out.send(target->session, type, std::move(relayed));
  return true;
}

}  // namespace mcu

// Peer messages: one-to-one (64, 71) to the named member, broadcasts (65, 72) to every other
// member, acknowledgements (68, 69, 73, 74) back to the member named in their first word.
// The first word a receiver sees is always the id of the member the message came from.
#include "room_logic.h"

namespace mcu {

bool room_logic::route_peer(const member& from, uint32_t type, const uint8_t* p, unsigned length,
                            outbox& out) {
  if (length < 4)
    return false;
  if (type == p2p_fragment || type == p2all_fragment) {
    if (length < fragment_header || length > fragment_max)
      return false;
  }
  bytes relayed;
  relayed.reserve(length);
  append_u32(relayed, from.user_id);
  relayed.insert(relayed.end(), p + 4, p + length);
  if (type == p2all || type == p2all_fragment) {
    to_others(out, from, type, relayed);
    return true;
  }
  member* target = find_user(get_u32(p));
  if (!target)
    return false;
  out.send(target->session, type, std::move(relayed));
  return true;
}

}  // namespace mcu

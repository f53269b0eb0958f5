// The receive side of the MCU control channel: checks each message against the length its
// type allows (never reading past it), answers what is answered automatically (8, 39, 41,
// 43, 68, 73, 100003), reassembles fragmented peer messages and hands the rest to the
// observer or to the library's mcu_events. Runs on the connection thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "fragment_table.h"
#include "libpavo/libpavo.h"
#include "mcu_events.h"
#include "sendmsg2mcu.h"

namespace pavo {

class mcu_dispatch {
public:
  mcu_dispatch(velmcu2ui& ui, mcu_events& events, sendmsg2mcu& out)
      : ui_(ui), events_(events), out_(out) {}

  // One received message. Malformed ones are logged and ignored.
  void dispatch(uint32_t type, const uint8_t* payload, unsigned length);

  fragment_table& peer_fragments() { return peer_fragments_; }
  fragment_table& broadcast_fragments() { return broadcast_fragments_; }

private:
  void user_pairs(const uint8_t* payload, unsigned length, bool mask_first);
  void fragment(uint32_t type, const uint8_t* payload, unsigned length);
  void id_list(uint32_t type, const uint8_t* payload, unsigned length);
  void simple_value(uint32_t type, uint32_t value);

  velmcu2ui& ui_;
  mcu_events& events_;
  sendmsg2mcu& out_;
  fragment_table peer_fragments_;       // type 71
  fragment_table broadcast_fragments_;  // type 72
  std::vector<user_media_t> users_;     // scratch for user lists
  std::vector<uint32_t> ids_;
  std::vector<uint16_t> seqs_;
};

}  // namespace pavo

// Which node of a kind (MCU, conversion server, video server, message server)
// a room (or a lobby) goes to: rendezvous hashing of its id over the nodes'
// addresses. Every service node computes the same answer with no
// coordination; rooms spread evenly, and when a node leaves (or comes) only
// its own rooms move.
#pragma once

#include <cstdint>
#include <vector>

#include "tavsrv/HostPort.h"

namespace tavsvc {

// A node's score for a key (a room, a user): the same on every service node.
uint64_t rendezvousWeight(uint32_t key, const tavsrv::HostPort& node);
// The node with the highest score for room (nodes must not be empty).
const tavsrv::HostPort& rendezvousNode(uint32_t room, const std::vector<tavsrv::HostPort>& nodes);

}  // namespace tavsvc

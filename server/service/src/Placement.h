// The node of each kind a room is handed to at room entry (service/Placement.h
// says how it is chosen), kept in the store so every service node hands out
// the same one: a room stays on its node while that node answers and another
// member is in the room; a room whose node stopped answering goes to another
// at its next entry, an empty room to the node the hash prefers.
#pragma once

#include <cstdint>
#include <vector>

#include "NodeHealth.h"
#include "tavsrv/Database.h"
#include "tavsrv/HostPort.h"

namespace tavsvc {

enum class NodeKind { Mcu, Convert, Video };

class RoomPlacement {
public:
  static const char* kindName(NodeKind kind);
  // The node of kind for roomId, which userId enters now.
  static tavsrv::HostPort place(tavsrv::Connection& db, NodeKind kind,
                                const std::vector<tavsrv::HostPort>& nodes,
                                const NodeHealth& health, uint32_t roomId, uint32_t userId,
                                int64_t nowMs);
};

}  // namespace tavsvc

#include "Placement.h"

#include "Presence.h"
#include "service/Placement.h"

namespace tavsvc {

namespace {

uint64_t mix(uint64_t x) {  // splitmix64's finaliser
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t fnv1a(const std::string& text) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (unsigned char c : text)
    hash = (hash ^ c) * 0x100000001B3ull;
  return hash;
}

}  // namespace

uint64_t rendezvousWeight(uint32_t key, const tavsrv::HostPort& node) {
  // By the node's address, not its place in the list: the order given, or a
  // node added, moves no other node's keys.
  return mix(fnv1a(node.str()) ^ mix(key));
}

const tavsrv::HostPort& rendezvousNode(uint32_t room, const std::vector<tavsrv::HostPort>& nodes) {
  const tavsrv::HostPort* best = &nodes.front();
  uint64_t bestScore = 0;
  for (const tavsrv::HostPort& node : nodes) {
    const uint64_t score = rendezvousWeight(room, node);
    if (score > bestScore || (score == bestScore && node.str() < best->str())) {
      best = &node;
      bestScore = score;
    }
  }
  return *best;
}

const char* RoomPlacement::kindName(NodeKind kind) {
  switch (kind) {
    case NodeKind::Mcu:
      return "mcu";
    case NodeKind::Convert:
      return "convert";
    case NodeKind::Video:
      return "video";
  }
  return "";
}

tavsrv::HostPort RoomPlacement::place(tavsrv::Connection& db, NodeKind kind,
                                      const std::vector<tavsrv::HostPort>& nodes,
                                      const NodeHealth& health, uint32_t roomId, uint32_t userId,
                                      int64_t nowMs) {
  if (nodes.size() == 1)
    return nodes.front();
  std::vector<tavsrv::HostPort> candidates;
  for (const tavsrv::HostPort& node : nodes)
    if (health.up(node))
      candidates.push_back(node);
  if (candidates.empty())
    candidates = nodes;  // none answers: the hash alone decides
  const tavsrv::HostPort& choice = rendezvousNode(roomId, candidates);
  // The room's node as long as it answers and is still configured; moved to
  // the choice only when nobody else is in the room (members would be split).
  const auto kept = [&]() -> std::optional<tavsrv::HostPort> {
    const auto current =
        db.queryText("SELECT node FROM room_placements WHERE room_id = ?1 AND kind = ?2", roomId,
                     kindName(kind));
    if (!current)
      return std::nullopt;
    for (const tavsrv::HostPort& node : candidates) {
      if (node.str() != *current)
        continue;
      if (node == choice ||
          db.queryInt("SELECT 1 FROM presence WHERE room_id = ?1 AND user_id <> ?2 AND "
                      "last_seen_ms >= ?3 LIMIT 1",
                      roomId, userId, nowMs - Presence::kTimeoutMs))
        return node;
    }
    return std::nullopt;
  };
  if (const auto node = kept())
    return *node;
  // Placed under the write lock: two nodes entering members at once agree.
  tavsrv::Transaction tx(db);
  if (const auto node = kept())
    return *node;
  db.run(
      "INSERT INTO room_placements(room_id, kind, node, placed_ms) VALUES(?1, ?2, ?3, ?4) "
      "ON CONFLICT(room_id, kind) DO UPDATE SET node = ?3, placed_ms = ?4",
      roomId, kindName(kind), choice.str(), nowMs);
  tx.commit();
  return choice;
}

}  // namespace tavsvc

#include "Presence.h"

namespace tavsvc {

void Presence::enter(tavsrv::Connection& db, uint32_t roomId, uint32_t userId, int64_t nowMs) {
  // Entries long silent go, at most once a minute (by any node).
  int64_t last = lastPruneMs_.load();
  if (nowMs - last >= 60 * 1000 && lastPruneMs_.compare_exchange_strong(last, nowMs))
    db.run("DELETE FROM presence WHERE last_seen_ms < ?1", nowMs - kTimeoutMs);
  // An entry after the member's presence ran out counts as a new one (its place in the order).
  db.run(
      "INSERT INTO presence(room_id, user_id, entered_ms, last_seen_ms) VALUES(?1, ?2, ?3, ?3) "
      "ON CONFLICT(room_id, user_id) DO UPDATE SET entered_ms = CASE WHEN "
      "presence.last_seen_ms < ?4 THEN ?3 ELSE presence.entered_ms END, last_seen_ms = ?3",
      roomId, userId, nowMs, nowMs - kTimeoutMs);
}

bool Presence::heartbeat(tavsrv::Connection& db, uint32_t roomId, uint32_t userId, int64_t nowMs,
                         bool teaching) {
  db.run(
      "UPDATE presence SET last_seen_ms = ?3, teaching_ms = CASE WHEN ?4 = 1 THEN ?3 ELSE "
      "teaching_ms END WHERE room_id = ?1 AND user_id = ?2 AND last_seen_ms >= ?5",
      roomId, userId, nowMs, teaching ? 1 : 0, nowMs - kTimeoutMs);
  return db.changes() > 0;
}

void Presence::leave(tavsrv::Connection& db, uint32_t roomId, uint32_t userId) {
  db.run("DELETE FROM presence WHERE room_id = ?1 AND user_id = ?2", roomId, userId);
}

std::vector<uint32_t> Presence::present(tavsrv::Connection& db, uint32_t roomId, int64_t nowMs) {
  auto st = db.prepare(
      "SELECT user_id FROM presence WHERE room_id = ?1 AND last_seen_ms >= ?2 "
      "ORDER BY entered_ms, user_id");
  st.bind(roomId, nowMs - kTimeoutMs);
  std::vector<uint32_t> users;
  while (st.step())
    users.push_back(static_cast<uint32_t>(st.int64(0)));
  return users;
}

uint32_t Presence::teacherOnDuty(tavsrv::Connection& db, uint32_t roomId, int64_t nowMs) {
  return static_cast<uint32_t>(
      db.queryInt("SELECT user_id FROM presence WHERE room_id = ?1 AND teaching_ms >= ?2 "
                  "ORDER BY teaching_ms DESC, user_id LIMIT 1",
                  roomId, nowMs - kTimeoutMs)
          .value_or(0));
}

}  // namespace tavsvc

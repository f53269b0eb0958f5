#include "UploadReservations.h"

#include <algorithm>

#include "tavsrv/Log.h"

namespace tavsvc {

namespace {
// Key locks of rooms' uploads: a space of their own among the store's key locks.
int64_t roomLock(uint32_t roomId) {
  return (int64_t{1} << 32) | roomId;
}
}  // namespace

UploadReservations::Hold& UploadReservations::Hold::operator=(Hold&& other) noexcept {
  if (this != &other) {
    release();
    pool_ = other.pool_;
    id_ = other.id_;
    bytes_ = other.bytes_;
    other.pool_ = nullptr;
    other.bytes_ = 0;
  }
  return *this;
}

void UploadReservations::Hold::release() {
  if (pool_ && bytes_ > 0) {
    try {
      auto lease = pool_->acquire();
      lease->run("DELETE FROM upload_holds WHERE id = ?1", id_);
    } catch (const tavsrv::DbError& error) {
      // The hold expires by itself.
      tavsrv::logError(std::string("upload hold ") + std::to_string(id_) + ": " + error.what());
    }
  }
  pool_ = nullptr;
  bytes_ = 0;
}

UploadReservations::Hold UploadReservations::reserve(
    tavsrv::ConnectionPool& pool, tavsrv::Connection& db, uint32_t roomId, uint32_t userId,
    uint64_t want, bool partly, uint64_t memberQuota, uint64_t roomQuota, int64_t nowMs,
    const std::function<Stored()>& stored, uint64_t* left) {
  tavsrv::KeyLock lock(db, roomLock(roomId));
  const Stored now = stored();
  auto st = db.prepare(
      "SELECT COALESCE(SUM(CASE WHEN user_id = ?2 THEN bytes ELSE 0 END), 0), "
      "COALESCE(SUM(bytes), 0) FROM upload_holds WHERE room_id = ?1 AND expires_ms > ?3");
  st.bind(roomId, userId, nowMs);
  uint64_t memberHeld = 0, roomHeld = 0;
  if (st.step()) {
    memberHeld = static_cast<uint64_t>(st.int64(0));
    roomHeld = static_cast<uint64_t>(st.int64(1));
  }
  const uint64_t memberUsed = now.member + memberHeld;
  const uint64_t roomUsed = now.room + roomHeld;
  const uint64_t memberFree = memberUsed >= memberQuota ? 0 : memberQuota - memberUsed;
  const uint64_t roomFree = roomUsed >= roomQuota ? 0 : roomQuota - roomUsed;
  const uint64_t free = std::min(memberFree, roomFree);
  *left = free;
  Hold hold;
  const uint64_t granted = partly ? std::min(want, free) : (want <= free ? want : 0);
  if (granted == 0)
    return hold;
  db.run("DELETE FROM upload_holds WHERE expires_ms <= ?1", nowMs);
  db.run("INSERT INTO upload_holds(room_id, user_id, bytes, expires_ms) VALUES(?1, ?2, ?3, ?4)",
         roomId, userId, static_cast<int64_t>(granted), nowMs + kHoldLifetimeMs);
  hold.id_ = db.lastInsertId();
  hold.pool_ = &pool;
  hold.bytes_ = granted;
  return hold;
}

}  // namespace tavsvc

#include "RemovalFeed.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace tavsvc {

namespace {
struct Stored {
  std::string epoch;
  int64_t counter = 0;
};

Stored stored(tavsrv::Connection& db) {
  auto st = db.prepare("SELECT epoch, counter FROM removal_feed WHERE id = 1");
  Stored s;
  if (st.step()) {
    s.epoch = st.text(0);
    s.counter = st.int64(1);
  }
  return s;
}

// The counter of "<epoch>-<counter>" when epoch is the store's.
std::optional<int64_t> counterOf(const std::string& version, const std::string& epoch) {
  if (version.size() <= epoch.size() + 1 || version.compare(0, epoch.size(), epoch) != 0 ||
      version[epoch.size()] != '-' || version.size() - epoch.size() - 1 > 18)
    return std::nullopt;
  int64_t counter = 0;
  for (size_t i = epoch.size() + 1; i < version.size(); ++i) {
    if (version[i] < '0' || version[i] > '9')
      return std::nullopt;
    counter = counter * 10 + (version[i] - '0');
  }
  return counter;
}
}  // namespace

std::string RemovalFeed::version(tavsrv::Connection& db) const {
  const Stored s = stored(db);
  return s.epoch + "-" + std::to_string(s.counter);
}

void RemovalFeed::changed(tavsrv::Connection& db) {
  db.run("UPDATE removal_feed SET counter = counter + 1 WHERE id = 1");
}

void RemovalFeed::wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++wakes_;
  }
  wake_.notify_all();
}

bool RemovalFeed::lift(tavsrv::Connection& db, uint32_t room, uint32_t user, int type) {
  tavsrv::Transaction tx(db);
  db.run("DELETE FROM room_blacklist WHERE room_id = ?1 AND user_id = ?2 AND type = ?3", room, user,
         type);
  if (db.changes() == 0)
    return false;
  changed(db);
  const int64_t counter = stored(db).counter;
  db.run(
      "INSERT INTO blacklist_lifts(room_id, user_id, type, counter) VALUES(?1, ?2, ?3, ?4) "
      "ON CONFLICT(room_id, user_id, type) DO UPDATE SET counter = ?4",
      room, user, type, counter);
  db.run("DELETE FROM blacklist_lifts WHERE counter <= ?1", counter - kMaxRememberedLifts);
  tx.commit();
  wake();
  return true;
}

bool RemovalFeed::liftedSince(tavsrv::Connection& db, const std::string& version, uint32_t room,
                              uint32_t user, int type) const {
  const Stored now = stored(db);
  const auto held = counterOf(version, now.epoch);
  if (!held || *held <= now.counter - kMaxRememberedLifts)
    return false;
  const auto lifted = db.queryInt(
      "SELECT counter FROM blacklist_lifts WHERE room_id = ?1 AND user_id = ?2 AND type = ?3", room,
      user, type);
  return lifted && *lifted > *held;
}

void RemovalFeed::waitWhile(tavsrv::ConnectionPool& pool, const std::string& known,
                            int64_t waitMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_)
        return;
      seen = wakes_;
    }
    {
      auto lease = pool.acquire();
      if (version(*lease) != known)
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    const auto until = std::min(deadline, Clock::now() + std::chrono::milliseconds(kPollMs));
    wake_.wait_until(lock, until, [&] { return stopping_ || wakes_ != seen; });
    if (stopping_ || Clock::now() >= deadline)
      return;
  }
}

void RemovalFeed::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
}

}  // namespace tavsvc

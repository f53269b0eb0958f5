// The version of the room blacklist the message server and the MCU follow: it
// changes with every removal and with every member taken off the list (a mute
// restored, a ban lifted early), and a question about it may wait here until it
// changes (see tavsrv/Removals.h). The version is the store's (a random epoch of
// the store and a counter), so every node sharing the store answers the same
// one, before and after a restart.
//
// It also tells chat the message server received before a member was taken off
// the list: such chat comes with the version the message server held on receipt,
// and a lift after that version means the member may still have been on the
// list then. The lifts are kept in the store with the version they made.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "tavsrv/Database.h"

namespace tavsvc {

class RemovalFeed {
public:
  // Lifts remembered, newest kept: far more than the message server's version
  // can lag behind (a second's question and the chat queue's answer time).
  static constexpr int64_t kMaxRememberedLifts = 10000;
  // How often a waiting question looks for changes other nodes made; changes
  // made here wake it at once.
  static constexpr int64_t kPollMs = 200;

  std::string version(tavsrv::Connection& db) const;
  // Within the write transaction that puts a removal in: a new version.
  void changed(tavsrv::Connection& db);
  // After that transaction committed: questions waiting here answer now.
  void wake();

  // Takes the member off the list (room, user, blacklist type) with a new
  // version and the lift's record, in one transaction: chat checked meanwhile
  // finds either the row or the lift. False when the member was not on it.
  bool lift(tavsrv::Connection& db, uint32_t room, uint32_t user, int type);

  // Whether the member was taken off the list after `version` was current.
  // False for a version of another store, or one older than the lifts
  // remembered: such chat is judged by the list as it is now.
  bool liftedSince(tavsrv::Connection& db, const std::string& version, uint32_t room, uint32_t user,
                   int type) const;

  // Waits until the store's version is no longer `known`, at most waitMs or
  // until shutdown; holds a connection of pool only while it looks.
  void waitWhile(tavsrv::ConnectionPool& pool, const std::string& known, int64_t waitMs);
  // Lets every waiting question answer at once (the service is stopping).
  void shutdown();

private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  uint64_t wakes_ = 0;
  bool stopping_ = false;
};

}  // namespace tavsvc

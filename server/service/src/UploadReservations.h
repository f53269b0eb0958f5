// Upload space promised to uploads under way. An upload reserves its declared
// size against the member's and the room's quota before any of its body is
// read and gives it back when it ends (stored, refused or cut off: the hold is
// released when the request's handler returns, however it returns), so uploads
// running side by side cannot together pass a quota, also on different
// service nodes: the holds are rows of the store, made under the room's key
// lock, and a node that dies leaves its holds to expire.
#pragma once

#include <cstdint>
#include <functional>

#include "tavsrv/Database.h"

namespace tavsvc {

class UploadReservations {
public:
  // A hold outlives no upload that ends: an upload still running after this
  // long no longer keeps its space from others.
  static constexpr int64_t kHoldLifetimeMs = 2 * 3600 * 1000;

  // Bytes already stored (files and unfinished uploads): the member's in the room, the room's.
  struct Stored {
    uint64_t member = 0;
    uint64_t room = 0;
  };

  class Hold {
  public:
    Hold() = default;
    Hold(Hold&& other) noexcept { *this = std::move(other); }
    Hold& operator=(Hold&& other) noexcept;
    ~Hold() { release(); }
    uint64_t bytes() const { return bytes_; }
    // Gives the space back (with a connection of the pool: call it holding none).
    void release();

  private:
    friend class UploadReservations;
    tavsrv::ConnectionPool* pool_ = nullptr;
    int64_t id_ = 0;
    uint64_t bytes_ = 0;
  };

  // Reserves want bytes for userId in roomId if what is stored (measured by
  // stored(), under the room's key lock, so no other upload of the room ends
  // or starts in between, on any node) plus what is reserved plus want fits
  // both quotas; when partly is set, as much of want as fits. An empty hold
  // (bytes() 0) when nothing is reserved; *left then tells what was still free
  // (the smaller of the two). db is a connection of pool.
  Hold reserve(tavsrv::ConnectionPool& pool, tavsrv::Connection& db, uint32_t roomId,
               uint32_t userId, uint64_t want, bool partly, uint64_t memberQuota,
               uint64_t roomQuota, int64_t nowMs, const std::function<Stored()>& stored,
               uint64_t* left);
};

}  // namespace tavsvc

// Upload space promised to uploads under way. An upload reserves its declared
// size against the member's and the room's quota before any of its body is
// read and gives it back when it ends (stored, refused or cut off: the hold is
// released when the request's handler returns, however it returns), so uploads
// running side by side cannot together pass a quota.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace tavsvc {

class UploadReservations {
public:
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
    void release();

  private:
    friend class UploadReservations;
    UploadReservations* owner_ = nullptr;
    uint32_t roomId_ = 0, userId_ = 0;
    uint64_t bytes_ = 0;
  };

  // Reserves want bytes for userId in roomId if what is stored (measured by
  // stored(), under the reservations' lock, so no other upload ends or starts
  // in between) plus what is reserved plus want fits both quotas; when partly
  // is set, as much of want as fits. An empty hold (bytes() 0) when nothing is
  // reserved; *left then tells what was still free (the smaller of the two).
  Hold reserve(uint32_t roomId, uint32_t userId, uint64_t want, bool partly, uint64_t memberQuota,
               uint64_t roomQuota, const std::function<Stored()>& stored, uint64_t* left);

  // Bytes reserved now (for tests and logs).
  uint64_t reserved(uint32_t roomId) const;

private:
  void give(uint32_t roomId, uint32_t userId, uint64_t bytes);

  mutable std::mutex mutex_;
  std::map<std::pair<uint32_t, uint32_t>, uint64_t> byMember_;
  std::map<uint32_t, uint64_t> byRoom_;
};

}  // namespace tavsvc

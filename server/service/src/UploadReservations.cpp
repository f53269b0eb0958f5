#include "UploadReservations.h"

#include <algorithm>

namespace tavsvc {

UploadReservations::Hold& UploadReservations::Hold::operator=(Hold&& other) noexcept {
  if (this != &other) {
    release();
    owner_ = other.owner_;
    roomId_ = other.roomId_;
    userId_ = other.userId_;
    bytes_ = other.bytes_;
    other.owner_ = nullptr;
    other.bytes_ = 0;
  }
  return *this;
}

void UploadReservations::Hold::release() {
  if (owner_ && bytes_ > 0)
    owner_->give(roomId_, userId_, bytes_);
  owner_ = nullptr;
  bytes_ = 0;
}

UploadReservations::Hold UploadReservations::reserve(uint32_t roomId, uint32_t userId,
                                                     uint64_t want, bool partly,
                                                     uint64_t memberQuota, uint64_t roomQuota,
                                                     const std::function<Stored()>& stored,
                                                     uint64_t* left) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Stored now = stored();
  const auto member = byMember_.find({roomId, userId});
  const auto room = byRoom_.find(roomId);
  const uint64_t memberUsed = now.member + (member == byMember_.end() ? 0 : member->second);
  const uint64_t roomUsed = now.room + (room == byRoom_.end() ? 0 : room->second);
  const uint64_t memberFree = memberUsed >= memberQuota ? 0 : memberQuota - memberUsed;
  const uint64_t roomFree = roomUsed >= roomQuota ? 0 : roomQuota - roomUsed;
  const uint64_t free = std::min(memberFree, roomFree);
  *left = free;
  Hold hold;
  const uint64_t granted = partly ? std::min(want, free) : (want <= free ? want : 0);
  if (granted == 0)
    return hold;
  byMember_[{roomId, userId}] += granted;
  byRoom_[roomId] += granted;
  hold.owner_ = this;
  hold.roomId_ = roomId;
  hold.userId_ = userId;
  hold.bytes_ = granted;
  return hold;
}

uint64_t UploadReservations::reserved(uint32_t roomId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto room = byRoom_.find(roomId);
  return room == byRoom_.end() ? 0 : room->second;
}

void UploadReservations::give(uint32_t roomId, uint32_t userId, uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto member = byMember_.find({roomId, userId});
  if (member != byMember_.end() && (member->second -= std::min(member->second, bytes)) == 0)
    byMember_.erase(member);
  const auto room = byRoom_.find(roomId);
  if (room != byRoom_.end() && (room->second -= std::min(room->second, bytes)) == 0)
    byRoom_.erase(room);
}

}  // namespace tavsvc

// The peer path: messages relayed by the media server through the media
// library, to one member or to everybody. Usable only while the media library
// is connected; RoomMessenger keeps that state.
#pragma once

#include <cstdint>

class RoomPeerPath {
public:
  virtual ~RoomPeerPath() = default;
  // Both return 0 when sent and a negative value when refused; length is the
  // byte length of data.
  virtual int send_p2p_msg(uint32_t targetUserId, const uint8_t* data, unsigned length) = 0;
  virtual int send_p2all_msg(const uint8_t* data, unsigned length) = 0;
};

// Adapter for a media library object with the same two operations, such as
// Libpavo. The library object is not owned.
template <typename Library>
class RoomPeerPathOver : public RoomPeerPath {
public:
  explicit RoomPeerPathOver(Library* library) : library_(library) {}
  int send_p2p_msg(uint32_t targetUserId, const uint8_t* data, unsigned length) override {
    return library_->send_p2p_msg(targetUserId, data, length);
  }
  int send_p2all_msg(const uint8_t* data, unsigned length) override {
    return library_->send_p2all_msg(data, length);
  }

private:
  Library* library_;
};

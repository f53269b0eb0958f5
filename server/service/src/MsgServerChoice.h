// Which message server a client is handed when several nodes, joined by
// NATS, hold the channels together. A thread looks at each node every second:
// a node counts as live while it takes a TCP connection and keeps it open (a
// node that lost NATS closes new connections at once; a dead one takes none).
// A key (the room, or the user for the lobby) goes to the same live node every
// time (rendezvous hashing), so a room's members meet on one node and only the
// rooms of a node that dies move.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "tavsrv/HostPort.h"

namespace tavsvc {

class MsgServerChoice {
public:
  // nodes: at least one. With one, nothing is looked at.
  explicit MsgServerChoice(std::vector<tavsrv::HostPort> nodes);
  ~MsgServerChoice();
  MsgServerChoice(const MsgServerChoice&) = delete;
  MsgServerChoice& operator=(const MsgServerChoice&) = delete;

  // The live node for key; when none is live, the one key would have anyway
  // (the client tries it again until one is back).
  tavsrv::HostPort pick(std::uint32_t key) const;
  // Live now, in the order given (all until the first look).
  std::vector<bool> live() const;

private:
  void run();

  const std::vector<tavsrv::HostPort> nodes_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<bool> live_;
  bool stopping_ = false;
  std::thread thread_;
};

// True when host:port takes a connection and does not close it at once.
bool msgServerLive(const tavsrv::HostPort& node);

}  // namespace tavsvc

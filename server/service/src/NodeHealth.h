// Which of the MCUs, conversion and video servers handed to clients answer.
// Each is probed every interval: an MCU with its health question (100010, on
// a KCP conversation of its own on the main port, answered 100011 and closed
// at once), the others by connecting over TCP. One that fails `failuresToDown` probes in a row is
// down until it answers again; until its first probe a node counts as up. Only kinds with more than
// one node are probed (a single node is handed out whatever it does).
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tavsrv/HostPort.h"

namespace tavsvc {

class NodeHealth {
public:
  enum class Probe { Kcp, Tcp };
  struct Options {
    int intervalMs = 2000;
    int timeoutMs = 1000;    // for one probe's answer
    int failuresToDown = 3;  // a lost datagram or two is not a dead node
  };

  ~NodeHealth() { stop(); }
  void start(const std::vector<std::pair<tavsrv::HostPort, Probe>>& nodes, Options options);
  void stop();
  bool up(const tavsrv::HostPort& node) const;

private:
  struct Node {
    tavsrv::HostPort address;
    Probe probe;
    int failures = 0;
  };
  void run();
  void probeAll();

  Options options_;
  std::vector<Node> nodes_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tavsvc

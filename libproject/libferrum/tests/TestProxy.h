// A TCP relay on loopback between libferrum and the service that breaks
// connections on purpose: it cuts a connection (both sides) once a number of
// bytes went one way, or stops forwarding there (a stalled network), for the
// first N connections. It keeps the head of every request it relayed.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ferrumtest {

class TestProxy {
public:
  enum class Fault { None, Cut, Stall };
  enum class Direction { ToServer, ToClient };

  TestProxy(unsigned short target, Fault fault, Direction direction, uint64_t afterBytes,
            int faultyConnections);
  ~TestProxy();
  TestProxy(const TestProxy&) = delete;
  TestProxy& operator=(const TestProxy&) = delete;

  unsigned short port() const { return port_; }
  // The first bytes (up to the blank line) of each connection's first request.
  std::vector<std::string> heads() const;
  // Connections on which the fault happened so far.
  int faults() const { return faults_.load(); }

private:
  void acceptLoop();
  void relay(int client, bool faulty);

  unsigned short target_;
  Fault fault_;
  Direction direction_;
  uint64_t afterBytes_;
  int faultyConnections_;
  int listener_ = -1;
  unsigned short port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> faults_{0};
  int accepted_ = 0;
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<std::thread> relays_;
  std::vector<std::string> heads_;
};

}  // namespace ferrumtest

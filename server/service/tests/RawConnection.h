// A plain TCP connection to a test server, from a chosen loopback address
// (127.0.0.2 and so on: Linux routes all of 127/8 to lo), for clients that
// misbehave on purpose: slow heads, unsent bodies, pipelining.
#pragma once

#include <chrono>
#include <string>

namespace tavtest {

class RawConnection {
public:
  // Connects from fromIp (port chosen by the system) to 127.0.0.1:port; valid() tells.
  RawConnection(int port, const std::string& fromIp = "127.0.0.1");
  ~RawConnection();
  RawConnection(RawConnection&& other) noexcept;
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool valid() const { return fd_ >= 0; }
  bool send(const std::string& bytes);
  void close();
  // Reads what is there without waiting; false once the peer has closed.
  bool poll();
  // Waits until the received text contains needle (true) or the peer closed / limit passed.
  bool waitFor(const std::string& needle, std::chrono::milliseconds limit);
  // Waits until the peer closes the connection (true) or the limit passes.
  bool waitClosed(std::chrono::milliseconds limit);
  const std::string& received() const { return received_; }
  bool closedByPeer() const { return closed_; }

private:
  bool readSome(int timeoutMs);

  int fd_ = -1;
  std::string received_;
  bool closed_ = false;
};

}  // namespace tavtest

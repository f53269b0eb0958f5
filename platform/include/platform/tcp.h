// Blocking TCP sockets for a server thread of the client (the phone link):
// listen, accept and receive with a wait that another thread can interrupt,
// send whole buffers. Descriptors are not inherited by child processes, and a
// send to a peer that went away fails instead of raising SIGPIPE.
// POSIX sockets here, Winsock on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A listening IPv4 socket on host:port (SO_REUSEADDR), or -1 with *error.
int tcpListen(const std::string& host, uint16_t port, int backlog, std::string* error = nullptr);
// The next connection of a listening socket, sending small writes at once
// (no Nagle delay: a packet's head and body go out as they are queued); -1 on failure (*retry tells
// whether the failure was a passing one: interrupted, would block, aborted).
int tcpAccept(int listening, std::string* peer = nullptr, bool* retry = nullptr);
// Received bytes (> 0), 0 when the peer closed, -1 on an error.
long tcpRecv(int socket, void* data, std::size_t size);
// Sends every byte; false when the connection failed.
bool tcpSendAll(int socket, const void* data, std::size_t size);
// Ends both directions (a thread blocked on the socket returns), then closes it.
void tcpShutdown(int socket);
void tcpClose(int socket);
// The port a socket is bound to, 0 when unknown.
uint16_t tcpLocalPort(int socket);

// Lets one thread wait for several sockets and another thread wake it.
class SocketWait {
public:
  SocketWait();
  ~SocketWait();
  SocketWait(const SocketWait&) = delete;
  SocketWait& operator=(const SocketWait&) = delete;

  bool ok() const;
  // Waits until one of sockets can be read (its index), the wait was woken
  // (kWoken), timeoutMs passed (kTimeout; -1 waits without limit) or an error (kError).
  static constexpr int kWoken = -1, kTimeout = -2, kError = -3;
  int wait(const std::vector<int>& sockets, int timeoutMs);
  // From any thread: the current or next wait returns kWoken (until drained by it).
  void wake();

private:
  int readEnd_ = -1;
  int writeEnd_ = -1;
};

}  // namespace platform

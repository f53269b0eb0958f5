#include "platform/tcp.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace platform {

namespace {

// Winsock is started once for the process and left running.
bool startWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SOCKET sock(int s) {
  return static_cast<SOCKET>(s);
}

}  // namespace

int tcpListen(const std::string& host, uint16_t port, int backlog, std::string* error) {
  auto fail = [&](const char* what) {
    if (error)
      *error = std::string(what) + ": error " + std::to_string(WSAGetLastError());
    return -1;
  };
  if (!startWinsock())
    return fail("WSAStartup");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (InetPtonA(AF_INET, host.c_str(), &addr.sin_addr) != 1)
    return fail("address");
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET)
    return fail("socket");
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  const BOOL on = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(s, backlog) != 0) {
    const int code = WSAGetLastError();
    ::closesocket(s);
    WSASetLastError(code);
    return fail("bind");
  }
  return static_cast<int>(s);
}

int tcpAccept(int listening, std::string* peer, bool* retry) {
  sockaddr_in addr{};
  int len = sizeof addr;
  const SOCKET s = ::accept(sock(listening), reinterpret_cast<sockaddr*>(&addr), &len);
  if (s == INVALID_SOCKET) {
    const int code = WSAGetLastError();
    if (retry)
      *retry = code == WSAEINTR || code == WSAEWOULDBLOCK || code == WSAECONNRESET;
    return -1;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  const BOOL on = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  if (peer) {
    char text[INET_ADDRSTRLEN] = {};
    InetNtopA(AF_INET, &addr.sin_addr, text, sizeof text);
    *peer = std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
  }
  return static_cast<int>(s);
}

long tcpRecv(int socket, void* data, std::size_t size) {
  const int n = ::recv(sock(socket), static_cast<char*>(data), int(size), 0);
  return n == SOCKET_ERROR ? -1 : long(n);
}

bool tcpSendAll(int socket, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const int n = ::send(sock(socket), p, int(size), 0);
    if (n == SOCKET_ERROR || n == 0)
      return false;
    p += n;
    size -= std::size_t(n);
  }
  return true;
}

void tcpShutdown(int socket) {
  if (socket >= 0)
    ::shutdown(sock(socket), SD_BOTH);
}

void tcpClose(int socket) {
  if (socket >= 0)
    ::closesocket(sock(socket));
}

uint16_t tcpLocalPort(int socket) {
  sockaddr_in addr{};
  int len = sizeof addr;
  if (::getsockname(sock(socket), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    return 0;
  return ntohs(addr.sin_port);
}

// Woken through a UDP socket bound to loopback that sends to itself.
SocketWait::SocketWait() {
  if (!startWinsock())
    return;
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET)
    return;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  u_long nonBlocking = 1;
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    ::closesocket(s);
    return;
  }
  readEnd_ = writeEnd_ = static_cast<int>(s);
}

SocketWait::~SocketWait() {
  if (readEnd_ >= 0)
    ::closesocket(sock(readEnd_));
}

bool SocketWait::ok() const {
  return readEnd_ >= 0;
}

int SocketWait::wait(const std::vector<int>& sockets, int timeoutMs) {
  std::vector<WSAPOLLFD> fds;
  fds.push_back({sock(readEnd_), POLLRDNORM, 0});
  for (int s : sockets)
    fds.push_back({sock(s), POLLRDNORM, 0});
  const int n = WSAPoll(fds.data(), ULONG(fds.size()), timeoutMs);
  if (n == SOCKET_ERROR)
    return kError;
  if (n == 0)
    return kTimeout;
  if (fds[0].revents) {
    char drain[64];
    while (::recv(sock(readEnd_), drain, sizeof drain, 0) > 0) {
    }
    return kWoken;
  }
  for (std::size_t i = 1; i < fds.size(); ++i)
    if (fds[i].revents)
      return int(i - 1);
  return kTimeout;
}

void SocketWait::wake() {
  const char byte = 1;
  ::send(sock(writeEnd_), &byte, 1, 0);
}

}  // namespace platform

// The stream cpp-httplib parses one request from and writes its answer to:
// first the bytes the front already read off the connection, then the socket
// itself, every wait bounded by a time-out. Small writes (an answer's head and
// body) are gathered and leave in one send: at flush(), before the stream
// waits for more input, or once they pass kGatherBytes.
#pragma once

#include <httplib.h>

#include <string>

namespace tavsvc {

// A connection's own address, looked up on its first request and kept for the others.
struct LocalAddress {
  std::string ip;
  int port = -1;  // -1: not looked up yet
};

class BufferedSocketStream : public httplib::Stream {
public:
  // buffer: bytes read ahead, consumed from *offset on (which advances).
  BufferedSocketStream(int fd, std::string& buffer, size_t& offset, int readTimeoutMs,
                       int writeTimeoutMs, std::string remoteIp, int remotePort,
                       LocalAddress& local);

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  int socket() const override { return fd_; }

  // Sends what is gathered; false when that failed.
  bool flush() const;
  // False once a read or write failed or timed out: the connection is not reused.
  bool healthy() const { return healthy_; }

  static constexpr size_t kGatherBytes = 64 * 1024;

private:
  bool waitFor(short events, int timeoutMs) const;
  bool sendAll(const char* data, size_t size) const;
  void lookUpLocal() const;

  int fd_;
  std::string& buffer_;
  size_t& offset_;
  int readTimeoutMs_;
  int writeTimeoutMs_;
  std::string remoteIp_;
  int remotePort_;
  LocalAddress& local_;
  // Written to by const members too: waiting for input sends what is gathered.
  mutable bool healthy_ = true;
  mutable std::string gathered_;
};

}  // namespace tavsvc

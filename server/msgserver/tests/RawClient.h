// A blocking loopback client that speaks the wire protocol byte by byte, so
// tests can send exactly what they want, including garbage, and can stop reading.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TestCredentials.h"
#include "msg_wire.h"

namespace msgtest {

using namespace std::chrono_literals;

struct OwnedFrame {
  corda::wire::FrameType type;
  std::string payload;
};

class RawClient {
public:
  // rcvbuf > 0 shrinks the receive buffer first, so a client that never reads
  // backs up into the server quickly. from: another loopback address to come
  // from ("127.0.0.2"), as another host would.
  explicit RawClient(std::uint16_t port, int rcvbuf = 0, const char* from = nullptr) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0)
      return;
    if (rcvbuf > 0)
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    if (from) {
      sockaddr_in source{};
      source.sin_family = AF_INET;
      ::inet_pton(AF_INET, from, &source.sin_addr);
      if (::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RawClient() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool ok() const { return fd_ >= 0; }
  bool closed() const { return closed_; }
  std::size_t bytes_read() const { return bytes_read_; }

  bool write(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0)
        return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  bool send(std::string_view target, std::string_view text) {
    return write(corda::wire::encode_send(target, text));
  }

  // Says hello with a credential for user and channel (signed with the tests'
  // secret) and waits for the welcome.
  bool hello(std::uint32_t user, std::uint32_t channel, int role = 2) {
    const auto frame = hello_with(user, channel, testsupport::testCredential(user, channel, role));
    return frame && frame->type == corda::wire::FrameType::welcome;
  }
  // Says hello with this credential; the server's answer (welcome or close).
  std::optional<OwnedFrame> hello_with(std::uint32_t user, std::uint32_t channel,
                                       const std::string& credential) {
    if (!write(
            corda::wire::encode_hello({corda::wire::kProtocolVersion, user, channel, credential})))
      return std::nullopt;
    return next();
  }

  // The next frame; nullopt on time-out, end of stream or undecodable bytes.
  std::optional<OwnedFrame> next(std::chrono::milliseconds timeout = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (frames_.empty()) {
      if (closed_ || !fill(deadline))
        return std::nullopt;
    }
    OwnedFrame frame = std::move(frames_.front());
    frames_.pop_front();
    return frame;
  }

  // The next deliver frame's text, skipping pongs.
  std::optional<corda::wire::Deliver> next_deliver(std::string& storage) {
    for (;;) {
      auto frame = next();
      if (!frame)
        return std::nullopt;
      if (frame->type == corda::wire::FrameType::pong)
        continue;
      if (frame->type != corda::wire::FrameType::deliver)
        return std::nullopt;
      storage = std::move(frame->payload);
      return corda::wire::decode_deliver(storage);
    }
  }

  // Reads and discards until the server closes the connection.
  bool wait_closed(std::chrono::milliseconds timeout = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!closed_) {
      if (!fill(deadline))
        return closed_;
      frames_.clear();
    }
    return true;
  }

  // True when the frames received so far include a close frame.
  bool saw_close() const { return saw_close_; }

private:
  bool fill(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
      return false;
    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      closed_ = true;
      return true;
    }
    bytes_read_ += static_cast<std::size_t>(n);
    buffer_.append(chunk, static_cast<std::size_t>(n));
    std::vector<corda::wire::Frame> frames;
    const auto result = corda::wire::decode_frames(buffer_, frames);
    for (const auto& f : frames) {
      saw_close_ = saw_close_ || f.type == corda::wire::FrameType::close;
      frames_.push_back({f.type, std::string(f.payload)});
    }
    buffer_.erase(0, result.consumed);
    return result.status == corda::wire::DecodeStatus::ok;
  }

  int fd_ = -1;
  bool closed_ = false;
  bool saw_close_ = false;
  std::size_t bytes_read_ = 0;
  std::string buffer_;
  std::deque<OwnedFrame> frames_;
};

}  // namespace msgtest

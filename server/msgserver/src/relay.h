// The server's core on its single Asio thread: accepts connections, keeps the
// channel directory, fans deliveries out and feeds the chat history.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include <asio.hpp>

#include "chat_forwarder.h"
#include "msg_wire.h"
#include "msgserver/server.h"
#include "session.h"

namespace msgserver {

class Relay {
public:
  explicit Relay(const Config& config);
  ~Relay();

  // Binds and starts the thread; 0 and a reason in error on failure.
  std::uint16_t start(std::string& error);
  void stop();
  // The bound port while running, else 0.
  std::uint16_t port() const { return port_; }
  Stats stats() const;

  // Called by sessions on the relay thread.
  const Config& config() const { return config_; }
  // The session has said hello: it joins its channel's directory.
  void on_registered(const std::shared_ptr<Session>& session);
  void on_send(Session& sender, const corda::wire::SendMsg& msg);
  // Idempotent; the session leaves the directory and gets no more deliveries.
  void on_closed(Session& session);

  std::atomic<std::uint64_t> protocol_errors{0};
  std::atomic<std::uint64_t> slow_consumers{0};
  std::atomic<std::uint64_t> idle_drops{0};

private:
  using UserSessions = std::vector<std::shared_ptr<Session>>;
  using Channel = std::unordered_map<std::uint32_t, UserSessions>;

  void accept_next();
  void shutdown_all();

  const Config config_;
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_{io_};
  asio::steady_timer accept_retry_{io_};
  std::thread thread_;
  std::unique_ptr<ChatForwarder> forwarder_;

  // relay thread only
  std::unordered_map<std::uint32_t, Channel> channels_;
  std::unordered_map<std::uint64_t, std::shared_ptr<Session>> sessions_;
  std::uint64_t next_id_ = 1;

  std::atomic<std::uint16_t> port_{0};
  std::atomic<std::uint64_t> connections_{0};
  std::atomic<std::uint64_t> accepted_{0};
  std::atomic<std::uint64_t> messages_{0};
  std::atomic<std::uint64_t> deliveries_{0};
};

}  // namespace msgserver

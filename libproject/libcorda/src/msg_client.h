// The engine behind velmsgs: one TCP connection to the message server, driven
// by an Asio loop on the client's own thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <asio.hpp>

#include "libcorda/velmsgs.h"
#include "msg_wire.h"

namespace corda {

class msg_client : public std::enable_shared_from_this<msg_client> {
public:
  msg_client(velmsg::msg_observer* observer, std::uint32_t user_id, std::uint32_t channel_id,
             std::string host, std::uint16_t port, std::string credential);
  ~msg_client();

  // Starts the connection thread; it keeps the object alive until it ends.
  void start();
  // Stops the thread. Joins it, unless called on that very thread (from a
  // callback), where it lets the thread finish on its own after the callback.
  void shutdown();
  int send(const char* text, const char* target);

private:
  enum class phase { resolving, connecting, awaiting_welcome, connected, closed };

  void run();
  void begin();
  void on_resolved(const asio::error_code& ec, const asio::ip::tcp::resolver::results_type& eps);
  void on_connected(const asio::error_code& ec);
  void read_more();
  void on_read(const asio::error_code& ec, std::size_t n);
  bool handle_frame(const wire::Frame& frame);
  void on_welcome(const wire::Frame& frame);
  void arm_ping();
  void on_ping_timer(const asio::error_code& ec);

  void enqueue(std::string frame);
  void write_more();
  void on_written(const asio::error_code& ec, std::size_t n);

  // Ends the connection once: a connect failure before the welcome, a
  // disconnect after it. Reports unless the owner is shutting down.
  void lose(int connect_failure);
  void close_socket();
  bool reporting() const { return !stopping_.load(); }

  velmsg::msg_observer* const observer_;
  const std::uint32_t user_id_;
  const std::uint32_t channel_id_;
  const std::string host_;
  const std::uint16_t port_;
  const std::string credential_;  // empty: the hello carries none

  asio::io_context io_;
  asio::ip::tcp::resolver resolver_{io_};
  asio::ip::tcp::socket socket_{io_};
  asio::steady_timer connect_timer_{io_};
  asio::steady_timer ping_timer_{io_};
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  // io thread only
  phase phase_ = phase::resolving;
  std::string rx_;
  std::array<char, 64 * 1024> chunk_{};
  std::string tx_;  // bytes of the write in flight
  std::chrono::steady_clock::time_point last_rx_;
  std::chrono::milliseconds ping_interval_{10000};

  // shared with senders
  std::mutex mutex_;
  bool connected_ = false;
  bool write_active_ = false;
  std::deque<std::string> out_;
  std::size_t queued_bytes_ = 0;
};

}  // namespace corda

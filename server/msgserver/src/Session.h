// One client connection: reads frames, answers pings, queues deliveries. It
// holds no read buffer of its own: it reads into the relay's, and keeps only
// the bytes of a frame not yet complete.
#pragma once

#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <asio.hpp>

#include "msg_wire.h"

namespace msgserver {

class Relay;

class Session : public std::enable_shared_from_this<Session> {
public:
  using FramePtr = std::shared_ptr<const std::string>;

  Session(asio::ip::tcp::socket socket, Relay& relay, std::uint64_t id, std::string address);

  void start();
  // Tells the client it is connected: once its hello is taken and the node
  // hears its channel.
  void welcome();
  // Queues a frame. A connection whose queue is full is cut off at once.
  void deliver(const FramePtr& frame);
  // Sends a close frame with the reason, then closes.
  void close_with(corda::wire::CloseCode code, const std::string& reason);
  // Closes without a word.
  void close_now();

  std::uint64_t id() const { return id_; }
  bool registered() const { return registered_; }
  std::uint32_t user_id() const { return user_id_; }
  std::uint32_t channel_id() const { return channel_id_; }
  // From the credential: 1 teacher, 2 student, 3 parent, 4 auditor, 5 inspector; 0 unknown.
  int role_code() const { return role_code_; }
  const std::string& peer() const { return peer_; }
  // The peer's IP address, without the port.
  const std::string& address() const { return address_; }
  // Where the relay lists it while it has not said hello (oldest first, in all
  // and among its address's); kept by the relay.
  struct PendingPlace {
    std::list<Session*>::iterator all, by_address;
  };
  std::optional<PendingPlace> pending_place;
  // True only the first time: a connection's first refused send is a warning, the rest debug.
  bool first_refusal() { return !std::exchange(refusal_logged_, true); }

private:
  void read_more();
  void on_readable(const asio::error_code& ec);
  // Adds to the frame started earlier what of bytes is its own, and handles it
  // once complete (with what else bytes held while its length was unknown).
  // False when the connection ended.
  bool continue_partial(std::string_view& bytes);
  // Handles the frames complete in bytes; the bytes they took, nullopt when the
  // connection ended.
  std::optional<std::size_t> take_frames(std::string_view bytes);
  // Before its hello a connection may start no frame longer than a hello.
  bool hello_may_follow(std::string_view rest);
  // Keeps the start of an unfinished frame for the next read. These and
  // take_partial count it against the relay's budget, and close the
  // connection (false) when it has no room.
  bool keep_partial(std::string_view rest);
  bool take_partial(std::size_t bytes);
  // False when the frame ended the connection.
  bool handle_frame(const corda::wire::Frame& frame);
  void protocol_error(const std::string& what);
  // True when the hello's credential lets it in; otherwise closes with the reason.
  bool admit(const corda::wire::Hello& hello);
  void queue(FramePtr frame);
  void write_more();
  void on_written(const asio::error_code& ec);
  void arm_idle_timer();

  asio::ip::tcp::socket socket_;
  asio::steady_timer idle_timer_;
  Relay& relay_;
  const std::uint64_t id_;
  const std::string address_;
  std::string peer_;

  bool registered_ = false;
  std::uint32_t user_id_ = 0;
  std::uint32_t channel_id_ = 0;
  int role_code_ = 0;
  bool refusal_logged_ = false;
  bool closing_ = false;  // close frame queued; no more reading or delivering
  bool closed_ = false;
  std::chrono::steady_clock::time_point opened_;
  std::chrono::steady_clock::time_point last_rx_;
  // When the hello's credential expires: the connection ends then.
  std::optional<std::chrono::steady_clock::time_point> expires_;
  std::chrono::steady_clock::time_point closing_since_;

  std::string rx_;  // the start of a frame not yet complete, counted in the relay's budget

  // Frames from tx_head_ on are on their way or wait (a vector costs nothing
  // while empty, as most connections' queue is).
  std::vector<FramePtr> tx_queue_;
  std::size_t tx_head_ = 0;
  std::vector<asio::const_buffer> tx_buffers_;
  std::size_t tx_in_flight_ = 0;  // frames of the write in progress
  std::size_t queued_bytes_ = 0;  // in flight included
};

}  // namespace msgserver

#include "Session.h"

#include "Relay.h"
#include "tavsrv/Log.h"

namespace msgserver {

namespace wire = corda::wire;

namespace {

constexpr auto kCloseGrace = std::chrono::seconds(2);
constexpr std::size_t kMaxBuffersPerWrite = 64;
constexpr std::int64_t kUntimedExpiryMs = 366LL * 24 * 3600 * 1000;
// The largest hello frame (type, version, ids, credential): before its hello a
// connection may announce nothing longer, so it never holds more than this.
constexpr std::size_t kMaxHelloFrame = 1 + 2 + 4 + 4 + 2 + wire::kMaxCredentialLength;

// The whole frame's size, from its first 4 bytes.
std::size_t frame_size(std::string_view start) {
  return 4 + (static_cast<std::size_t>(static_cast<unsigned char>(start[0])) << 24 |
              static_cast<std::size_t>(static_cast<unsigned char>(start[1])) << 16 |
              static_cast<std::size_t>(static_cast<unsigned char>(start[2])) << 8 |
              static_cast<std::size_t>(static_cast<unsigned char>(start[3])));
}

}  // namespace

Session::Session(asio::ip::tcp::socket socket, Relay& relay, std::uint64_t id, std::string address)
    : socket_(std::move(socket)),
      idle_timer_(socket_.get_executor()),
      relay_(relay),
      id_(id),
      address_(std::move(address)) {}

void Session::start() {
  asio::error_code ec;
  const auto remote = socket_.remote_endpoint(ec);
  peer_ = ec ? std::string("?") : address_ + ":" + std::to_string(remote.port());
  socket_.set_option(asio::ip::tcp::no_delay(true), ec);
  // Reads are made when the socket is readable, into the relay's buffer, and must not wait.
  socket_.non_blocking(true, ec);
  opened_ = last_rx_ = std::chrono::steady_clock::now();
  if (relay_.config().verbose)
    tavsrv::logDebug("msgserver: connection #" + std::to_string(id_) + " from " + peer_);
  arm_idle_timer();
  read_more();
}

void Session::read_more() {
  socket_.async_wait(
      asio::ip::tcp::socket::wait_read,
      [self = shared_from_this()](const asio::error_code& ec) { self->on_readable(ec); });
}

void Session::on_readable(const asio::error_code& ec) {
  if (closing_ || closed_)
    return;
  asio::error_code read_error = ec;
  std::size_t n = 0;
  const asio::mutable_buffer buffer = relay_.read_buffer();
  if (!read_error)
    n = socket_.read_some(buffer, read_error);
  if (read_error == asio::error::would_block || read_error == asio::error::try_again) {
    read_more();
    return;
  }
  if (read_error) {
    if (relay_.config().verbose)
      tavsrv::logDebug("msgserver: connection #" + std::to_string(id_) +
                       " ended: " + read_error.message());
    close_now();
    return;
  }
  last_rx_ = std::chrono::steady_clock::now();
  std::string_view bytes(static_cast<const char*>(buffer.data()), n);
  if (!rx_.empty() && !continue_partial(bytes))
    return;
  if (!bytes.empty()) {
    // The usual case: whole frames, handled straight from the relay's buffer.
    const auto consumed = take_frames(bytes);
    if (!consumed || !keep_partial(bytes.substr(*consumed)))
      return;
  }
  read_more();
}

bool Session::continue_partial(std::string_view& bytes) {
  // Once the frame's length is known it takes only its own bytes, into the
  // buffer kept for it; until then everything, judged below.
  const bool sized = rx_.size() >= 4;
  const std::size_t part =
      sized ? std::min(bytes.size(), frame_size(rx_) - rx_.size()) : bytes.size();
  if (!take_partial(part))
    return false;
  rx_.append(bytes.data(), part);
  bytes.remove_prefix(part);
  if (sized && rx_.size() < frame_size(rx_))
    return true;  // more to come
  std::string held;
  held.swap(rx_);
  relay_.release_partial(held.size());
  const auto consumed = take_frames(held);
  return consumed && keep_partial(std::string_view(held).substr(*consumed));
}

std::optional<std::size_t> Session::take_frames(std::string_view bytes) {
  std::vector<wire::Frame> frames;
  const wire::DecodeResult result = wire::decode_frames(bytes, frames);
  for (const wire::Frame& frame : frames) {
    if (!handle_frame(frame))
      return std::nullopt;
  }
  if (result.status != wire::DecodeStatus::ok) {
    protocol_error(wire::to_string(result.status));
    return std::nullopt;
  }
  return result.consumed;
}

bool Session::hello_may_follow(std::string_view rest) {
  if (!registered_ && rest.size() >= 4 && frame_size(rest) > 4 + kMaxHelloFrame) {
    protocol_error("frame before hello longer than a hello");
    return false;
  }
  return true;
}

bool Session::take_partial(std::size_t bytes) {
  if (relay_.take_partial(bytes))
    return true;
  ++relay_.partial_refused;
  tavsrv::logWarn("msgserver: connection #" + std::to_string(id_) + " from " + peer_ +
                  ": the unfinished frames of all connections are at the server's limit; closed");
  close_with(wire::CloseCode::protocol_error, "too many unfinished frames at the server");
  return false;
}

bool Session::keep_partial(std::string_view rest) {
  if (rest.empty())
    return true;
  if (!hello_may_follow(rest) || !take_partial(rest.size()))
    return false;
  // One allocation a frame, of its size (the length was judged when it came).
  rx_.reserve(rest.size() >= 4 ? frame_size(rest) : rest.size());
  rx_.assign(rest.data(), rest.size());
  return true;
}

bool Session::handle_frame(const wire::Frame& frame) {
  if (frame.type == wire::FrameType::hello) {
    if (registered_) {
      protocol_error("repeated hello");
      return false;
    }
    const auto hello = wire::decode_hello(frame.payload);
    if (!hello) {
      protocol_error("malformed hello");
      return false;
    }
    if (hello->version != wire::kProtocolVersion) {
      ++relay_.protocol_errors;
      tavsrv::logWarn("msgserver: connection #" + std::to_string(id_) + " from " + peer_ +
                      ": protocol version " + std::to_string(hello->version) +
                      " not supported; closed");
      close_with(wire::CloseCode::unsupported_version, "unsupported protocol version");
      return false;
    }
    if (!admit(*hello))
      return false;
    registered_ = true;
    user_id_ = hello->user_id;
    channel_id_ = hello->channel_id;
    arm_idle_timer();  // the credential's expiry instead of the hello's deadline
    if (relay_.config().verbose)
      tavsrv::logDebug("msgserver: connection #" + std::to_string(id_) + ": user " +
                       std::to_string(user_id_) + " on channel " + std::to_string(channel_id_));
    if (relay_.on_registered(shared_from_this()))
      welcome();
    return !closing_ && !closed_;
  }
  if (!registered_) {
    protocol_error("frame before hello");
    return false;
  }
  switch (frame.type) {
    case wire::FrameType::send: {
      const auto msg = wire::decode_send(frame.payload);
      if (!msg) {
        protocol_error("malformed send frame");
        return false;
      }
      if (!wire::valid_target(msg->target)) {
        protocol_error("bad target");
        return false;
      }
      relay_.on_send(*this, *msg);
      return !closing_ && !closed_;
    }
    case wire::FrameType::ping:
      if (frame.payload.size() > wire::kMaxPingPayload) {
        protocol_error("oversized ping");
        return false;
      }
      queue(std::make_shared<const std::string>(
          wire::encode_frame(wire::FrameType::pong, frame.payload)));
      return true;
    case wire::FrameType::pong:
      return true;
    default:
      protocol_error("unexpected frame type " + std::to_string(static_cast<int>(frame.type)));
      return false;
  }
}

void Session::welcome() {
  const auto idle_ms = static_cast<std::uint32_t>(relay_.config().idle_timeout.count());
  queue(
      std::make_shared<const std::string>(wire::encode_welcome({wire::kProtocolVersion, idle_ms})));
}

bool Session::admit(const wire::Hello& hello) {
  if (relay_.cluster_down()) {
    // Without a word, not a refusal: libcorda then tries again instead of
    // asking the service for a new credential.
    ++relay_.cluster_refused;
    close_now();
    return false;
  }
  const char* refusal = nullptr;
  const auto credential = relay_.verify(hello.credential);
  if (!relay_.accepts_credentials())
    refusal = "this server accepts no credential";
  else if (hello.credential.empty())
    refusal = "no credential";
  else if (!credential)
    refusal = "credential not valid or expired";
  else if (credential->user != hello.user_id)
    refusal = "credential of another user";
  else if (credential->room != hello.channel_id)
    refusal = "credential for another channel";
  else if (relay_.removed(hello.channel_id, hello.user_id))
    refusal = "removed from the room";
  if (!refusal) {
    role_code_ = credential->roleCode;
    // Wall-clock expiry as a steady deadline: a clock step does not stretch a
    // session. One further off than a year (tools sign "never") is not timed:
    // the steady clock cannot hold every such deadline.
    const std::int64_t left = credential->expiresMs - relay_.wall_clock_ms();
    if (left < kUntimedExpiryMs)
      expires_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(left);
    return true;
  }
  ++relay_.hellos_refused;
  tavsrv::logWarn("msgserver: connection #" + std::to_string(id_) + " from " + peer_ +
                  ": hello as user " + std::to_string(hello.user_id) + " on channel " +
                  std::to_string(hello.channel_id) + " refused: " + refusal);
  close_with(wire::CloseCode::credential_refused, refusal);
  return false;
}

void Session::protocol_error(const std::string& what) {
  ++relay_.protocol_errors;
  std::string who = "connection #" + std::to_string(id_) + " from " + peer_;
  if (registered_)
    who += " (user " + std::to_string(user_id_) + ", channel " + std::to_string(channel_id_) + ")";
  tavsrv::logWarn("msgserver: " + who + ": " + what + "; closed");
  close_with(wire::CloseCode::protocol_error, what);
}

void Session::deliver(const FramePtr& frame) {
  if (closing_ || closed_)
    return;
  if (queued_bytes_ > 0 && queued_bytes_ + frame->size() > relay_.config().max_queue_bytes) {
    ++relay_.slow_consumers;
    tavsrv::logWarn("msgserver: connection #" + std::to_string(id_) + " (user " +
                    std::to_string(user_id_) + ", channel " + std::to_string(channel_id_) +
                    ") is not reading: " + std::to_string(queued_bytes_) +
                    " bytes waiting; cut off");
    close_now();
    return;
  }
  queue(frame);
}

void Session::queue(FramePtr frame) {
  queued_bytes_ += frame->size();
  tx_queue_.push_back(std::move(frame));
  if (tx_in_flight_ == 0)
    write_more();
}

void Session::write_more() {
  if (tx_head_ == tx_queue_.size() || closed_)
    return;
  tx_buffers_.clear();
  for (std::size_t i = tx_head_; i < tx_queue_.size() && i - tx_head_ < kMaxBuffersPerWrite; ++i)
    tx_buffers_.push_back(asio::buffer(*tx_queue_[i]));
  tx_in_flight_ = tx_buffers_.size();
  asio::async_write(socket_, tx_buffers_,
                    [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                      self->on_written(ec);
                    });
}

void Session::on_written(const asio::error_code& ec) {
  if (closed_)
    return;
  if (ec) {
    if (relay_.config().verbose)
      tavsrv::logDebug("msgserver: connection #" + std::to_string(id_) +
                       " write failed: " + ec.message());
    close_now();
    return;
  }
  for (; tx_in_flight_ > 0; --tx_in_flight_) {
    queued_bytes_ -= tx_queue_[tx_head_]->size();
    tx_queue_[tx_head_++].reset();
  }
  if (tx_head_ == tx_queue_.size()) {
    tx_queue_.clear();
    tx_head_ = 0;
    if (tx_queue_.capacity() > kMaxBuffersPerWrite)
      tx_queue_.shrink_to_fit();  // a burst's queue is not kept for ever
  } else if (tx_head_ > tx_queue_.size() / 2) {
    tx_queue_.erase(tx_queue_.begin(), tx_queue_.begin() + static_cast<std::ptrdiff_t>(tx_head_));
    tx_head_ = 0;
  }
  if (closing_ && tx_queue_.empty()) {
    close_now();
    return;
  }
  write_more();
}

void Session::close_with(wire::CloseCode code, const std::string& reason) {
  if (closing_ || closed_)
    return;
  closing_ = true;
  closing_since_ = std::chrono::steady_clock::now();
  relay_.on_closed(*this);
  // Whatever is not yet on its way is dropped; the close frame goes right after.
  while (tx_queue_.size() > tx_head_ + tx_in_flight_) {
    queued_bytes_ -= tx_queue_.back()->size();
    tx_queue_.pop_back();
  }
  queue(std::make_shared<const std::string>(wire::encode_close(code, reason)));
  arm_idle_timer();  // now guards the close frame's delivery
}

void Session::close_now() {
  if (closed_)
    return;
  closed_ = true;
  closing_ = true;
  relay_.on_closed(*this);
  // No more reading: the unfinished frame goes (frames being handled never
  // point into it: they are read from the relay's buffer or a copy).
  relay_.release_partial(rx_.size());
  std::string().swap(rx_);
  asio::error_code ignored;
  idle_timer_.cancel();
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  // The queue stays: a write in flight may still point into its frames.
}

void Session::arm_idle_timer() {
  auto deadline = closing_ ? closing_since_ + kCloseGrace : last_rx_ + relay_.config().idle_timeout;
  if (!closing_ && expires_ && *expires_ < deadline)
    deadline = *expires_;
  if (!closing_ && !registered_ && opened_ + relay_.config().hello_timeout < deadline)
    deadline = opened_ + relay_.config().hello_timeout;
  idle_timer_.expires_at(deadline);
  idle_timer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    if (ec || self->closed_)
      return;
    const auto now = std::chrono::steady_clock::now();
    if (self->closing_) {
      self->close_now();
      return;
    }
    if (!self->registered_ && now >= self->opened_ + self->relay_.config().hello_timeout) {
      ++self->relay_.hello_timeouts;
      if (self->relay_.config().verbose)
        tavsrv::logDebug("msgserver: connection #" + std::to_string(self->id_) + " from " +
                         self->peer_ + " said no hello in time; closed");
      self->close_with(wire::CloseCode::idle_timeout, "no hello in time");
      return;
    }
    if (self->expires_ && now >= *self->expires_) {
      ++self->relay_.credentials_expired;
      tavsrv::logInfo("msgserver: connection #" + std::to_string(self->id_) + " (user " +
                      std::to_string(self->user_id_) + ", channel " +
                      std::to_string(self->channel_id_) + "): credential expired; closed");
      self->close_with(wire::CloseCode::credential_refused, "credential expired");
      return;
    }
    if (now - self->last_rx_ >= self->relay_.config().idle_timeout) {
      ++self->relay_.idle_drops;
      tavsrv::logWarn("msgserver: connection #" + std::to_string(self->id_) + " from " +
                      self->peer_ + " silent too long; closed");
      self->close_with(wire::CloseCode::idle_timeout, "silent too long");
      return;
    }
    self->arm_idle_timer();
  });
}

}  // namespace msgserver

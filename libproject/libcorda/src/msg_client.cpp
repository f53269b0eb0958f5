#include "msg_client.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace corda {

namespace {

constexpr auto kConnectTimeout = std::chrono::seconds(10);
constexpr auto kMaxPingInterval = std::chrono::milliseconds(10000);
constexpr auto kMinPingInterval = std::chrono::milliseconds(50);
// The server answers every ping; this many silent intervals mean it is gone.
constexpr int kSilentIntervals = 3;
// A server that stops reading must not make the caller's memory grow without end.
constexpr std::size_t kMaxQueuedBytes = 8u << 20;

}  // namespace

msg_client::msg_client(velmsg::msg_observer* observer, std::uint32_t user_id,
                       std::uint32_t channel_id, std::string host, std::uint16_t port,
                       std::string credential)
    : observer_(observer),
      user_id_(user_id),
      channel_id_(channel_id),
      host_(std::move(host)),
      port_(port),
      credential_(std::move(credential)) {}

msg_client::~msg_client() {
  if (!thread_.joinable())
    return;
  if (thread_.get_id() == std::this_thread::get_id())
    thread_.detach();
  else
    thread_.join();
}

void msg_client::start() {
  asio::post(io_, [this] { begin(); });
  auto self = shared_from_this();
  thread_ = std::thread([self]() mutable {
    self->run();
    // When the owner let go from inside a callback, the last reference is this one.
    self.reset();
  });
}

void msg_client::shutdown() {
  stopping_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = false;
  }
  io_.stop();
  if (!thread_.joinable())
    return;
  if (thread_.get_id() == std::this_thread::get_id())
    thread_.detach();
  else
    thread_.join();
}

void msg_client::run() {
  try {
    io_.run();
  } catch (...) {
    // Nothing in the handlers throws; never let anything escape the thread.
  }
}

void msg_client::begin() {
  connect_timer_.expires_after(kConnectTimeout);
  connect_timer_.async_wait([this](const asio::error_code& ec) {
    if (!ec && phase_ != phase::connected && phase_ != phase::closed)
      lose(velmsg::connect_failed_timeout);
  });
  if (host_.empty()) {  // the resolver would take it for the local host
    lose(velmsg::connect_failed_resolve);
    return;
  }
  // The server could not even read such a hello; no need to ask it.
  if (!credential_.empty() && !wire::valid_credential(credential_)) {
    lose(velmsg::connect_failed_rejected);
    return;
  }
  resolver_.async_resolve(
      host_, std::to_string(port_),
      [this](const asio::error_code& ec, const asio::ip::tcp::resolver::results_type& eps) {
        on_resolved(ec, eps);
      });
}

void msg_client::on_resolved(const asio::error_code& ec,
                             const asio::ip::tcp::resolver::results_type& eps) {
  if (phase_ != phase::resolving)
    return;
  if (ec || eps.empty()) {
    lose(velmsg::connect_failed_resolve);
    return;
  }
  phase_ = phase::connecting;
  asio::async_connect(
      socket_, eps,
      [this](const asio::error_code& e, const asio::ip::tcp::endpoint&) { on_connected(e); });
}

void msg_client::on_connected(const asio::error_code& ec) {
  if (phase_ != phase::connecting)
    return;
  if (ec) {
    lose(velmsg::connect_failed_refused);
    return;
  }
  asio::error_code ignored;
  socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
  phase_ = phase::awaiting_welcome;
  last_rx_ = std::chrono::steady_clock::now();
  enqueue(wire::encode_hello({wire::kProtocolVersion, user_id_, channel_id_, credential_}));
  read_more();
}

void msg_client::read_more() {
  socket_.async_read_some(asio::buffer(chunk_),
                          [this](const asio::error_code& ec, std::size_t n) { on_read(ec, n); });
}

void msg_client::on_read(const asio::error_code& ec, std::size_t n) {
  if (phase_ == phase::closed)
    return;
  if (ec) {
    lose(velmsg::connect_failed_refused);
    return;
  }
  last_rx_ = std::chrono::steady_clock::now();
  rx_.append(chunk_.data(), n);
  std::vector<wire::Frame> frames;
  const wire::DecodeResult result = wire::decode_frames(rx_, frames);
  for (const wire::Frame& frame : frames) {
    if (!handle_frame(frame) || phase_ == phase::closed || stopping_)
      return;
  }
  if (result.status != wire::DecodeStatus::ok) {
    lose(velmsg::connect_failed_protocol);
    return;
  }
  rx_.erase(0, result.consumed);
  read_more();
}

// False when the frame ended the connection.
bool msg_client::handle_frame(const wire::Frame& frame) {
  if (phase_ == phase::awaiting_welcome) {
    if (frame.type == wire::FrameType::welcome) {
      on_welcome(frame);
      return phase_ == phase::connected;
    }
    if (frame.type == wire::FrameType::ping) {
      enqueue(wire::encode_frame(wire::FrameType::pong, frame.payload));
      return true;
    }
    lose(frame.type == wire::FrameType::close ? velmsg::connect_failed_rejected
                                              : velmsg::connect_failed_protocol);
    return false;
  }
  switch (frame.type) {
    case wire::FrameType::deliver: {
      const auto deliver = wire::decode_deliver(frame.payload);
      if (!deliver) {
        lose(velmsg::connect_failed_protocol);
        return false;
      }
      const std::string text(deliver->text);
      if (reporting())
        observer_->recv_msg(text.c_str());
      return true;
    }
    case wire::FrameType::ping:
      if (frame.payload.size() <= wire::kMaxPingPayload)
        enqueue(wire::encode_frame(wire::FrameType::pong, frame.payload));
      return true;
    case wire::FrameType::pong:
      return true;
    default:  // close, or a frame only a client sends
      lose(velmsg::connect_failed_protocol);
      return false;
  }
}

void msg_client::on_welcome(const wire::Frame& frame) {
  const auto welcome = wire::decode_welcome(frame.payload);
  if (!welcome || welcome->version != wire::kProtocolVersion) {
    lose(welcome ? velmsg::connect_failed_rejected : velmsg::connect_failed_protocol);
    return;
  }
  // Ping often enough that the server never sees us silent for its whole timeout.
  ping_interval_ = kMaxPingInterval;
  if (welcome->idle_timeout_ms > 0) {
    const auto third = std::chrono::milliseconds(welcome->idle_timeout_ms / 3);
    ping_interval_ = std::max(kMinPingInterval, std::min(kMaxPingInterval, third));
  }
  phase_ = phase::connected;
  connect_timer_.cancel();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = !stopping_;
  }
  arm_ping();
  if (reporting())
    observer_->connect2msgs_state(1);
}

void msg_client::arm_ping() {
  ping_timer_.expires_after(ping_interval_);
  ping_timer_.async_wait([this](const asio::error_code& ec) { on_ping_timer(ec); });
}

void msg_client::on_ping_timer(const asio::error_code& ec) {
  if (ec || phase_ != phase::connected)
    return;
  if (std::chrono::steady_clock::now() - last_rx_ > kSilentIntervals * ping_interval_) {
    lose(velmsg::connect_failed_timeout);
    return;
  }
  enqueue(wire::encode_frame(wire::FrameType::ping, {}));
  arm_ping();
}

int msg_client::send(const char* text, const char* target) {
  if (!text || !target || !wire::valid_target(target))
    return velmsg::send_bad_argument;
  const std::size_t length = std::strlen(text);
  if (length > wire::kMaxTextLength)
    return velmsg::send_too_large;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connected_)
      return velmsg::send_not_connected;
    if (queued_bytes_ > kMaxQueuedBytes)
      return velmsg::send_queue_full;
  }
  std::string frame = wire::encode_send(target, std::string_view(text, length));
  std::lock_guard<std::mutex> lock(mutex_);
  if (!connected_)
    return velmsg::send_not_connected;
  queued_bytes_ += frame.size();
  out_.push_back(std::move(frame));
  if (!write_active_) {
    write_active_ = true;
    asio::post(io_, [this] { write_more(); });
  }
  return velmsg::send_queued;
}

// io thread only: hello, pings and pongs.
void msg_client::enqueue(std::string frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  queued_bytes_ += frame.size();
  out_.push_back(std::move(frame));
  if (!write_active_) {
    write_active_ = true;
    asio::post(io_, [this] { write_more(); });
  }
}

void msg_client::write_more() {
  if (phase_ == phase::closed)
    return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (out_.empty()) {
      write_active_ = false;
      return;
    }
    tx_.clear();
    while (!out_.empty()) {
      tx_.append(out_.front());
      out_.pop_front();
    }
  }
  asio::async_write(socket_, asio::buffer(tx_),
                    [this](const asio::error_code& ec, std::size_t n) { on_written(ec, n); });
}

void msg_client::on_written(const asio::error_code& ec, std::size_t n) {
  if (phase_ == phase::closed)
    return;
  if (ec) {
    lose(velmsg::connect_failed_refused);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_bytes_ -= std::min(queued_bytes_, n);
  }
  write_more();
}

void msg_client::lose(int connect_failure) {
  if (phase_ == phase::closed)
    return;
  const bool was_connected = phase_ == phase::connected;
  phase_ = phase::closed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = false;
    out_.clear();
    queued_bytes_ = 0;
  }
  close_socket();
  if (!reporting())
    return;
  if (was_connected)
    observer_->disconnect_from_msgs();
  else
    observer_->connect2msgs_state(connect_failure);
}

void msg_client::close_socket() {
  asio::error_code ignored;
  resolver_.cancel();
  connect_timer_.cancel();
  ping_timer_.cancel();
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
}

}  // namespace corda

// kcp_client: one KCP session on its own UDP socket. A network thread feeds received
// datagrams to the session and drives its clock; callers send and receive under the same
// mutex, so the session itself needs no locking of its own.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "libnetra/kcp_client.h"
#include "netra/kcp_frame.h"
#include "netra/kcp_session.h"
#include "netra_util.h"
#include "woblog/woblog.h"

namespace netra {

namespace {

using asio::ip::udp;
using steady = std::chrono::steady_clock;

// Pause between connection probes while the peer has not answered.
constexpr auto probe_pause = std::chrono::milliseconds(200);
// How long close() waits for the peer to acknowledge what is still in flight.
constexpr auto close_linger = std::chrono::milliseconds(300);
// Datagrams read in one go before the acks go out: a burst from the server is answered with
// one ack datagram and one wake-up of the receiver instead of one per datagram.
constexpr int batch_datagrams = 32;

class kcp_connection final : public kcp_client {
public:
  explicit kcp_connection(udp::endpoint peer) : peer_(peer), rx_(65536) {}
  ~kcp_connection() override { close(); }

  int connect() override;
  int close() override;
  int recv(kcp_header_t* header, void* buffer, unsigned capacity, bool* timed_out) override;
  int send(const kcp_header_t* header, const void* payload, unsigned length) override;
  int set_recv_timeout(unsigned ms) override {
    recv_timeout_ms_ = ms;
    return 0;
  }

private:
  enum class phase { idle, connecting, connected, closed };

  bool start_network();
  void stop_network();
  void arm_receive();
  void arm_timer(uint32_t delay_ms);
  // Feeds one datagram to the session; true when it was taken. Flushes nothing.
  bool on_datagram(std::size_t size);
  void on_tick();
  void output(const uint8_t* data, std::size_t size);

  const udp::endpoint peer_;
  std::atomic<unsigned> recv_timeout_ms_{kcp_default_recv_timeout_ms};

  std::mutex network_mutex_;  // serialises starting and stopping the network thread

  std::mutex mutex_;  // everything below that the network thread shares
  std::condition_variable cond_;
  phase phase_ = phase::idle;
  bool peer_heard_ = false;
  std::unique_ptr<kcp_session> session_;

  std::unique_ptr<asio::io_context> io_;
  std::unique_ptr<udp::socket> socket_;
  std::unique_ptr<asio::steady_timer> timer_;
  std::thread thread_;
  // Network thread only.
  udp::endpoint from_;
  std::vector<uint8_t> rx_;
  drop_counter foreign_;
  drop_counter malformed_;
};

int kcp_connection::connect() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (phase_ == phase::connected)
      return 0;
    if (phase_ != phase::idle)
      return -1;
    phase_ = phase::connecting;
  }
  if (!start_network()) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (phase_ == phase::connecting)
      phase_ = phase::idle;
    return -1;
  }

  // KCP has no handshake; a window probe is answered by every peer, so the first valid
  // segment of our conversation coming back proves the peer is there.
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = steady::now() + std::chrono::milliseconds(recv_timeout_ms_.load());
  auto next_probe = steady::now();
  while (phase_ == phase::connecting && !peer_heard_) {
    auto now = steady::now();
    if (now >= deadline)
      break;
    if (now >= next_probe) {
      session_->request_window();
      session_->update(steady_ms());
      session_->flush();
      next_probe = now + probe_pause;
    }
    cond_.wait_until(lock, std::min(deadline, next_probe));
  }
  if (phase_ == phase::connecting && peer_heard_) {
    phase_ = phase::connected;
    qn::log("kcp_client: connected to %s:%u, conv %u", peer_.address().to_string().c_str(),
            unsigned{peer_.port()}, session_->conv());
    return 0;
  }
  if (phase_ == phase::connecting)
    phase_ = phase::idle;
  lock.unlock();
  stop_network();
  qn::log("kcp_client: no answer from %s:%u", peer_.address().to_string().c_str(),
          unsigned{peer_.port()});
  return -1;
}

int kcp_connection::close() {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool was_connected = phase_ == phase::connected;
  phase_ = phase::closed;
  cond_.notify_all();  // a blocked recv() or connect() gives up now
  if (was_connected && session_ && !session_->dead()) {
    // Give the last messages (a leave notice, say) a moment to be acknowledged.
    session_->update(steady_ms());
    session_->flush();
    cond_.wait_for(lock, close_linger, [this] {
      return !session_ || session_->waiting_send() == 0 || session_->dead();
    });
  }
  lock.unlock();
  stop_network();
  return 0;
}

int kcp_connection::recv(kcp_header_t* header, void* buffer, unsigned capacity, bool* timed_out) {
  if (timed_out)
    *timed_out = false;
  if (!header)
    return -1;
  if (!buffer)
    capacity = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = steady::now() + std::chrono::milliseconds(recv_timeout_ms_.load());
  std::vector<uint8_t> message;
  bool expired = false;
  for (;;) {
    if (phase_ != phase::connected || !session_)
      return -1;
    if (session_->receive(message) >= 0) {
      kcp_header_t h;
      if (!decode_control_message(message.data(), message.size(), &h)) {
        uint64_t total = 0;
        if (malformed_.count(&total))
          qn::log("kcp_client: dropped a %zu-byte message with a bad header (%llu so far)",
                  message.size(), static_cast<unsigned long long>(total));
        continue;
      }
      if (h.length > capacity) {
        qn::log("kcp_client: message type %u of %u bytes refused, buffer holds %u", h.type,
                unsigned{h.length}, capacity);
        return -2;
      }
      *header = h;
      if (h.length > 0)
        std::memcpy(buffer, message.data() + control_header_size, h.length);
      return static_cast<int>(message.size());
    }
    if (session_->dead()) {
      qn::log("kcp_client: peer %s:%u stopped acknowledging", peer_.address().to_string().c_str(),
              unsigned{peer_.port()});
      return -1;
    }
    if (expired) {
      if (timed_out)
        *timed_out = true;
      return -1;
    }
    // One more look after the deadline, for a message that came with it.
    expired = cond_.wait_until(lock, deadline) == std::cv_status::timeout;
  }
}

int kcp_connection::send(const kcp_header_t* header, const void* payload, unsigned length) {
  if (!header || header->length != length || (length > 0 && !payload))
    return -1;
  std::vector<uint8_t> message = make_control_message(*header, payload, length);
  if (message.empty())
    return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  if (phase_ != phase::connected || !session_ || session_->dead())
    return -1;
  if (session_->send(message.data(), message.size()) != 0)
    return -1;
  // Out at once rather than at the next tick: the control channel is latency-bound.
  session_->update(steady_ms());
  session_->flush();
  return 0;
}

bool kcp_connection::start_network() {
  std::lock_guard<std::mutex> network(network_mutex_);
  auto io = std::make_unique<asio::io_context>(1);
  auto socket = std::make_unique<udp::socket>(*io);
  asio::error_code ec;
  socket->open(udp::v4(), ec);
  if (!ec)
    socket->bind(udp::endpoint(asio::ip::address_v4::any(), 0), ec);
  // Callers send on this socket while the network thread waits on it; a non-blocking
  // socket never changes its mode behind their back.
  if (!ec)
    socket->non_blocking(true, ec);
  if (ec) {
    qn::log("kcp_client: socket failed: %s", ec.message().c_str());
    return false;
  }
  asio::error_code ignored;
  socket->set_option(asio::socket_base::receive_buffer_size(1 << 20), ignored);

  io_ = std::move(io);
  socket_ = std::move(socket);
  timer_ = std::make_unique<asio::steady_timer>(*io_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    peer_heard_ = false;
    session_ = std::make_unique<kcp_session>(
        random_conv(), [this](const uint8_t* data, std::size_t size) { output(data, size); });
    session_->update(steady_ms());
  }
  arm_receive();
  arm_timer(0);
  thread_ = std::thread([this] {
    try {
      io_->run();
    } catch (...) {
      // Handlers do not throw; nothing may escape the thread.
    }
  });
  return true;
}

void kcp_connection::stop_network() {
  std::lock_guard<std::mutex> network(network_mutex_);
  if (io_)
    io_->stop();
  if (thread_.joinable())
    thread_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session_.reset();
  }
  if (socket_) {
    asio::error_code ignored;
    socket_->close(ignored);
  }
  timer_.reset();
  socket_.reset();
  io_.reset();
}

void kcp_connection::output(const uint8_t* data, std::size_t size) {
  // Under mutex_. A full socket buffer is just loss; KCP resends.
  asio::error_code ignored;
  socket_->send_to(asio::buffer(data, size), peer_, 0, ignored);
}

void kcp_connection::arm_receive() {
  socket_->async_receive_from(
      asio::buffer(rx_), from_, [this](const asio::error_code& ec, std::size_t size) {
        if (ec == asio::error::operation_aborted)
          return;
        if (!ec) {
          bool taken = on_datagram(size);
          // What else is waiting joins the batch (non-blocking socket).
          for (int n = 1; n < batch_datagrams; ++n) {
            asio::error_code again;
            const std::size_t more = socket_->receive_from(asio::buffer(rx_), from_, 0, again);
            if (again)
              break;
            taken = on_datagram(more) || taken;
          }
          if (taken) {
            {
              std::lock_guard<std::mutex> lock(mutex_);
              if (session_) {
                session_->update(steady_ms());
                session_->flush();  // acks now, not at the next tick
              }
            }
            cond_.notify_all();
          }
        }
        arm_receive();
      });
}

bool kcp_connection::on_datagram(std::size_t size) {
  if (from_ != peer_) {
    uint64_t total = 0;
    if (foreign_.count(&total))
      qn::log("kcp_client: dropped a datagram from %s:%u (%llu so far)",
              from_.address().to_string().c_str(), unsigned{from_.port()},
              static_cast<unsigned long long>(total));
    return false;
  }
  int rc;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!session_)
      return false;
    session_->update(steady_ms());
    rc = session_->input(rx_.data(), size);
    if (rc == 0)
      peer_heard_ = true;
  }
  if (rc == 0)
    return true;
  uint64_t total = 0;
  if (malformed_.count(&total))
    qn::log("kcp_client: dropped a %zu-byte datagram (%d, %llu so far)", size, rc,
            static_cast<unsigned long long>(total));
  return false;
}

void kcp_connection::arm_timer(uint32_t delay_ms) {
  timer_->expires_after(std::chrono::milliseconds(delay_ms));
  timer_->async_wait([this](const asio::error_code& ec) {
    if (!ec)
      on_tick();
  });
}

void kcp_connection::on_tick() {
  uint32_t delay;
  bool dead;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!session_)
      return;
    uint32_t now = steady_ms();
    session_->update(now);
    delay = std::max<uint32_t>(1, session_->check(now) - now);
    dead = session_->dead();
  }
  if (dead)
    cond_.notify_all();
  arm_timer(delay);
}

}  // namespace

}  // namespace netra

kcp_client* kcp_client::create(const char* ip, unsigned short port) {
  asio::ip::address_v4 addr;
  if (port == 0 || !netra::parse_ipv4(ip, &addr))
    return nullptr;
  try {
    return new netra::kcp_connection(asio::ip::udp::endpoint(addr, port));
  } catch (...) {
    return nullptr;
  }
}

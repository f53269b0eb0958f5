// udp_client on standalone Asio: a non-blocking socket that any thread may send on, and one
// receive thread running the socket's io_context.
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "libnetra/udp_client.h"
#include "netra_util.h"
#include "woblog/woblog.h"

namespace netra {

namespace {

using asio::ip::udp;

class udp_peer final : public udp_client {
public:
  explicit udp_peer(udp::endpoint peer) : peer_(peer), buffer_(65536) {}
  ~udp_peer() override { stop(); }

  int open() override;
  int send(const uint8_t* data, unsigned length) override;
  int start_recv(network_data* sink) override;
  int stop() override;

private:
  // Under mutex_.
  bool on_receive_thread() const { return receive_id_ == std::this_thread::get_id(); }
  void arm();
  // Joins the receive thread and frees the socket. Under lifecycle_, never on that thread.
  void shutdown();

  const udp::endpoint peer_;
  std::mutex lifecycle_;  // serialises opening and shutting down
  std::mutex mutex_;      // the socket pointer, the open flag, sends
  bool open_ = false;
  std::unique_ptr<asio::io_context> io_;
  std::unique_ptr<udp::socket> socket_;
  std::thread thread_;
  std::thread::id receive_id_;  // the receive thread until it has been joined
  std::atomic<bool> stopping_{false};
  network_data* sink_ = nullptr;
  // Touched only by the receive thread while it runs.
  udp::endpoint from_;
  std::vector<uint8_t> buffer_;
  drop_counter foreign_;
};

int udp_peer::open() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (on_receive_thread())
      return -1;  // would wait for itself
    if (open_)
      return 0;
  }
  std::lock_guard<std::mutex> life(lifecycle_);
  shutdown();  // leftovers of a stop() made from inside the sink
  auto io = std::make_unique<asio::io_context>(1);
  auto socket = std::make_unique<udp::socket>(*io);
  asio::error_code ec;
  socket->open(udp::v4(), ec);
  if (!ec)
    socket->bind(udp::endpoint(asio::ip::address_v4::any(), 0), ec);
  // Sends come from any thread while the receive thread waits; a non-blocking socket never
  // changes its mode behind their back.
  if (!ec)
    socket->non_blocking(true, ec);
  if (ec) {
    qn::log("udp_client: open failed: %s", ec.message().c_str());
    return -1;
  }
  asio::error_code ignored;
  // Video bursts: room for a few frames each way before the kernel drops.
  socket->set_option(asio::socket_base::receive_buffer_size(1 << 20), ignored);
  socket->set_option(asio::socket_base::send_buffer_size(1 << 20), ignored);
  std::lock_guard<std::mutex> lock(mutex_);
  io_ = std::move(io);
  socket_ = std::move(socket);
  stopping_ = false;
  open_ = true;
  return 0;
}

int udp_peer::send(const uint8_t* data, unsigned length) {
  if (!data || length == 0 || length > udp_max_datagram)
    return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_)
    return -1;
  asio::error_code ec;
  socket_->send_to(asio::buffer(data, length), peer_, 0, ec);
  return ec ? -1 : 0;
}

int udp_peer::start_recv(network_data* sink) {
  if (!sink)
    return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || thread_.joinable())
    return -1;
  sink_ = sink;
  arm();
  thread_ = std::thread([this] {
    try {
      io_->run();
    } catch (...) {
      // Handlers do not throw; nothing may escape the thread.
    }
  });
  receive_id_ = thread_.get_id();
  return 0;
}

void udp_peer::arm() {
  socket_->async_receive_from(
      asio::buffer(buffer_), from_, [this](const asio::error_code& ec, std::size_t n) {
        if (ec == asio::error::operation_aborted || stopping_)
          return;
        if (!ec && n > 0) {
          if (from_ == peer_) {
            sink_->on_network_data(buffer_.data(), static_cast<unsigned>(n));
          } else {
            uint64_t total = 0;
            if (foreign_.count(&total))
              qn::log("udp_client: dropped a datagram from %s:%u (%llu so far)",
                      from_.address().to_string().c_str(), unsigned{from_.port()},
                      static_cast<unsigned long long>(total));
          }
        }
        if (!stopping_)
          arm();
      });
}

int udp_peer::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    open_ = false;
    if (io_)
      io_->stop();
    if (on_receive_thread()) {
      // Called by the sink: the thread cannot join itself. It ends when the sink returns;
      // a later stop(), open() or the destructor joins it.
      asio::error_code ignored;
      socket_->close(ignored);
      return 0;
    }
  }
  std::lock_guard<std::mutex> life(lifecycle_);
  shutdown();
  return 0;
}

void udp_peer::shutdown() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    thread = std::move(thread_);
  }
  if (thread.joinable())
    thread.join();
  std::lock_guard<std::mutex> lock(mutex_);
  receive_id_ = std::thread::id();
  if (socket_) {
    asio::error_code ignored;
    socket_->close(ignored);
  }
  socket_.reset();
  io_.reset();
  sink_ = nullptr;
}

}  // namespace

}  // namespace netra

udp_client* udp_client::create(const char* ip, unsigned short port) {
  asio::ip::address_v4 addr;
  if (port == 0 || !netra::parse_ipv4(ip, &addr))
    return nullptr;
  try {
    return new netra::udp_peer(asio::ip::udp::endpoint(addr, port));
  } catch (...) {
    return nullptr;
  }
}

#include "udp_relay.h"

#include <vector>

namespace netra_test {

udp_relay::udp_relay(uint16_t server_port, relay_profile up, relay_profile down, uint32_t seed)
    : front_(io_, udp::endpoint(asio::ip::address_v4::loopback(), 0)),
      back_(io_, udp::endpoint(asio::ip::address_v4::loopback(), 0)),
      server_(asio::ip::address_v4::loopback(), server_port),
      up_(up),
      down_(down),
      rng_(seed) {
  arm_front();
  arm_back();
  thread_ = std::thread([this] { io_.run(); });
}

udp_relay::~udp_relay() {
  io_.stop();
  thread_.join();
}

void udp_relay::arm_front() {
  front_.async_receive_from(asio::buffer(front_buf_), front_from_,
                            [this](const asio::error_code& ec, std::size_t n) {
                              if (ec == asio::error::operation_aborted)
                                return;
                              if (!ec) {
                                client_ = front_from_;
                                forward(back_, server_, front_buf_, n, up_);
                              }
                              arm_front();
                            });
}

void udp_relay::arm_back() {
  back_.async_receive_from(asio::buffer(back_buf_), back_from_,
                           [this](const asio::error_code& ec, std::size_t n) {
                             if (ec == asio::error::operation_aborted)
                               return;
                             if (!ec && back_from_ == server_ && client_.port() != 0)
                               forward(front_, client_, back_buf_, n, down_);
                             arm_back();
                           });
}

void udp_relay::forward(udp::socket& out, const udp::endpoint& to, const uint8_t* data,
                        std::size_t n, const relay_profile& p) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  if (unit(rng_) < p.loss) {
    ++dropped_;
    return;
  }
  int copies = unit(rng_) < p.duplicate ? 2 : 1;
  auto bytes = std::make_shared<std::vector<uint8_t>>(data, data + n);
  for (int i = 0; i < copies; ++i) {
    uint32_t delay = p.delay_ms;
    if (p.jitter_ms > 0)
      delay += std::uniform_int_distribution<uint32_t>(0, p.jitter_ms)(rng_);
    auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(delay));
    timer->async_wait([this, timer, bytes, &out, to](const asio::error_code& ec) {
      if (ec)
        return;
      asio::error_code ignored;
      out.send_to(asio::buffer(*bytes), to, 0, ignored);
      ++forwarded_;
    });
  }
}

}  // namespace netra_test

// udp_client against plain sockets on loopback.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "eventually.h"
#include "libnetra/udp_client.h"

namespace {

using asio::ip::udp;
const std::chrono::milliseconds patience = testsupport::wait_limit();

// Collects datagrams and lets the test wait for a count.
class recording_sink : public network_data {
public:
  void on_network_data(const uint8_t* data, unsigned length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    got_.emplace_back(data, data + length);
    if (stopped_)
      ++late_;
    cond_.notify_all();
  }
  bool wait_for_count(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, patience, [&] { return got_.size() >= n; });
  }
  std::vector<std::vector<uint8_t>> got() {
    std::lock_guard<std::mutex> lock(mutex_);
    return got_;
  }
  void mark_stopped() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  int late() {
    std::lock_guard<std::mutex> lock(mutex_);
    return late_;
  }

private:
  std::mutex mutex_;
  std::condition_variable cond_;
  std::vector<std::vector<uint8_t>> got_;
  bool stopped_ = false;
  int late_ = 0;
};

// The far end: a plain socket on loopback.
struct peer_socket {
  asio::io_context io;
  udp::socket socket{io, udp::endpoint(asio::ip::address_v4::loopback(), 0)};
  uint16_t port() const { return socket.local_endpoint().port(); }
  // Receives one datagram (the test's client speaks first) and remembers where from.
  std::vector<uint8_t> receive(udp::endpoint* from) {
    std::vector<uint8_t> buf(65536);
    std::size_t n = socket.receive_from(asio::buffer(buf), *from);
    buf.resize(n);
    return buf;
  }
};

std::vector<uint8_t> pattern(std::size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i)
    v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

TEST(UdpClient, CreateRefusesBadArguments) {
  for (const char* ip : {static_cast<const char*>(nullptr), "", "localhost", "256.0.0.1", "1.2.3",
                         "::1", "127.0.0.1 "})
    EXPECT_EQ(udp_client::create(ip, 5000), nullptr) << (ip ? ip : "null");
  EXPECT_EQ(udp_client::create("127.0.0.1", 0), nullptr);
  std::unique_ptr<udp_client> ok(udp_client::create("127.0.0.1", 5000));
  EXPECT_NE(ok, nullptr);
}

TEST(UdpClient, RefusesWhatItCannotDo) {
  recording_sink sink;
  std::unique_ptr<udp_client> c(udp_client::create("127.0.0.1", 5000));
  uint8_t byte = 1;
  EXPECT_LT(c->send(&byte, 1), 0);  // not open
  EXPECT_LT(c->start_recv(&sink), 0);
  ASSERT_EQ(c->open(), 0);
  EXPECT_LT(c->send(nullptr, 1), 0);
  EXPECT_LT(c->send(&byte, 0), 0);
  std::vector<uint8_t> big(udp_max_datagram + 1);
  EXPECT_LT(c->send(big.data(), static_cast<unsigned>(big.size())), 0);
  EXPECT_LT(c->start_recv(nullptr), 0);
  ASSERT_EQ(c->start_recv(&sink), 0);
  EXPECT_LT(c->start_recv(&sink), 0);  // already runs
  EXPECT_EQ(c->stop(), 0);
  EXPECT_EQ(c->stop(), 0);
  EXPECT_LT(c->send(&byte, 1), 0);
}

TEST(UdpClient, ExchangesWholeDatagramsWithItsPeerOnly) {
  peer_socket peer;
  recording_sink sink;
  std::unique_ptr<udp_client> c(udp_client::create("127.0.0.1", peer.port()));
  ASSERT_EQ(c->open(), 0);
  ASSERT_EQ(c->start_recv(&sink), 0);

  auto hello = pattern(5, 1);
  ASSERT_EQ(c->send(hello.data(), 5), 0);
  udp::endpoint client;
  EXPECT_EQ(peer.receive(&client), hello);
  auto largest = pattern(udp_max_datagram, 3);
  ASSERT_EQ(c->send(largest.data(), udp_max_datagram), 0);
  EXPECT_EQ(peer.receive(&client), largest);

  // A stranger's datagram is not the peer's and is not handed on.
  peer_socket stranger;
  auto foreign = pattern(10, 9);
  stranger.socket.send_to(asio::buffer(foreign), client);

  std::vector<std::vector<uint8_t>> sent = {pattern(1, 4), pattern(1500, 5),
                                            pattern(udp_max_datagram, 6)};
  for (const auto& d : sent)
    peer.socket.send_to(asio::buffer(d), client);
  ASSERT_TRUE(sink.wait_for_count(sent.size()));
  EXPECT_EQ(sink.got(), sent);
}

TEST(UdpClient, NoCallbackAfterStopReturns) {
  peer_socket peer;
  recording_sink sink;
  std::unique_ptr<udp_client> c(udp_client::create("127.0.0.1", peer.port()));
  ASSERT_EQ(c->open(), 0);
  ASSERT_EQ(c->start_recv(&sink), 0);
  uint8_t byte = 0;
  ASSERT_EQ(c->send(&byte, 1), 0);
  udp::endpoint client;
  peer.receive(&client);

  // The peer floods while the client stops.
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    auto d = pattern(200, 1);
    for (int i = 0; i < 200000 && flooding; ++i) {
      asio::error_code ignored;
      peer.socket.send_to(asio::buffer(d), client, 0, ignored);
    }
  });
  ASSERT_TRUE(sink.wait_for_count(10));
  EXPECT_EQ(c->stop(), 0);
  sink.mark_stopped();
  // Keep flooding a while after the stop; none of it may reach the sink.
  auto d = pattern(200, 2);
  for (int i = 0; i < 2000; ++i) {
    asio::error_code ignored;
    peer.socket.send_to(asio::buffer(d), client, 0, ignored);
  }
  flooding = false;
  flood.join();
  EXPECT_EQ(sink.late(), 0);

  // It opens again on a new socket and works as before.
  recording_sink again;
  ASSERT_EQ(c->open(), 0);
  ASSERT_EQ(c->start_recv(&again), 0);
  ASSERT_EQ(c->send(&byte, 1), 0);
  peer.receive(&client);
  peer.socket.send_to(asio::buffer(d), client);
  EXPECT_TRUE(again.wait_for_count(1));
}

// Stops its client from inside the first callback.
class stopping_sink : public network_data {
public:
  udp_client* client = nullptr;
  std::atomic<int> calls{0};
  std::promise<int> stopped;
  void on_network_data(const uint8_t*, unsigned) override {
    if (calls++ == 0)
      stopped.set_value(client->stop());
  }
};

TEST(UdpClient, StopFromInsideTheSinkDoesNotWaitForItself) {
  peer_socket peer;
  stopping_sink sink;
  std::unique_ptr<udp_client> c(udp_client::create("127.0.0.1", peer.port()));
  sink.client = c.get();
  ASSERT_EQ(c->open(), 0);
  ASSERT_EQ(c->start_recv(&sink), 0);
  uint8_t byte = 0;
  ASSERT_EQ(c->send(&byte, 1), 0);
  udp::endpoint client;
  peer.receive(&client);
  for (int i = 0; i < 5; ++i)
    peer.socket.send_to(asio::buffer(&byte, 1), client);
  auto result = sink.stopped.get_future();
  ASSERT_EQ(result.wait_for(patience), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  EXPECT_LT(c->send(&byte, 1), 0);  // stopped
  c.reset();                        // joins the finished thread
  EXPECT_EQ(sink.calls, 1);
}

}  // namespace

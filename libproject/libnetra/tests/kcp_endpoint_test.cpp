// kcp_client against the server endpoint over real loopback sockets, directly and through a
// lossy relay.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "eventually.h"
#include "libnetra/kcp_client.h"
#include "netra/kcp_frame.h"
#include "netra/kcp_segment.h"
#include "netra/kcp_server.h"
#include "netra/kcp_session.h"
#include "udp_relay.h"

namespace {

using asio::ip::udp;
using netra::kcp_close_reason;
using netra::kcp_server;
using session_id = kcp_server::session_id;
const std::chrono::milliseconds patience = testsupport::wait_limit();

// A server that records what happens and echoes every message with type + 1.
struct echo_server {
  struct message {
    session_id id;
    kcp_header_t header;
    std::vector<uint8_t> payload;
  };

  explicit echo_server(netra::kcp_server_options options = netra::kcp_server_options()) {
    kcp_server::handlers h;
    h.on_accept = [this](session_id id, const netra::kcp_peer_address& peer) {
      std::lock_guard<std::mutex> lock(mutex);
      seen.accepted.push_back(id);
      seen.peers.push_back(peer);
      cond.notify_all();
      return accept.load();
    };
    h.on_message = [this](session_id id, const kcp_header_t& header, const uint8_t* payload,
                          unsigned length) {
      if (echo) {
        kcp_header_t back{0, header.length, header.type + 1};
        server->send(id, back, payload, length);
      }
      std::lock_guard<std::mutex> lock(mutex);
      seen.messages.push_back({id, header, std::vector<uint8_t>(payload, payload + length)});
      cond.notify_all();
    };
    h.on_close = [this](session_id id, kcp_close_reason reason) {
      std::lock_guard<std::mutex> lock(mutex);
      seen.closed.emplace_back(id, reason);
      cond.notify_all();
    };
    h.on_log = [](const std::string&) {};
    server = std::make_unique<kcp_server>(options, h);
    started = server->start() == 0;
  }

  struct record {
    std::vector<session_id> accepted;
    std::vector<netra::kcp_peer_address> peers;
    std::vector<message> messages;
    std::vector<std::pair<session_id, kcp_close_reason>> closed;
  };

  // Waits until `pred` holds for what was recorded; a copy of it then, or nothing on time-out.
  template <class Pred>
  std::optional<record> wait(Pred pred) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!cond.wait_for(lock, patience, [&] { return pred(seen); }))
      return std::nullopt;
    return seen;
  }

  std::mutex mutex;
  std::condition_variable cond;
  record seen;
  std::atomic<bool> accept{true};
  std::atomic<bool> echo{true};
  std::unique_ptr<kcp_server> server;  // last: stopped before the rest goes
  bool started = false;
};

std::vector<uint8_t> bytes(std::size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v)
    b = static_cast<uint8_t>(rng());
  return v;
}

std::unique_ptr<kcp_client> connected_client(uint16_t port) {
  std::unique_ptr<kcp_client> c(kcp_client::create("127.0.0.1", port));
  if (c && c->connect() < 0)
    c.reset();
  return c;
}

struct received {
  int result = 0;
  bool timed_out = false;
  kcp_header_t header{};
  std::vector<uint8_t> payload;
};

received receive(kcp_client& c, unsigned capacity = kcp_max_payload) {
  received r;
  r.payload.resize(capacity);
  r.result = c.recv(&r.header, r.payload.data(), capacity, &r.timed_out);
  r.payload.resize(r.result >= 8 ? r.result - 8 : 0);
  return r;
}

int send(kcp_client& c, uint32_t type, const std::vector<uint8_t>& payload) {
  kcp_header_t h{0, static_cast<uint16_t>(payload.size()), type};
  return c.send(&h, payload.data(), static_cast<unsigned>(payload.size()));
}

TEST(KcpClient, CreateRefusesBadArguments) {
  EXPECT_EQ(kcp_client::create(nullptr, 27802), nullptr);
  EXPECT_EQ(kcp_client::create("", 27802), nullptr);
  EXPECT_EQ(kcp_client::create("mcu.local", 27802), nullptr);
  EXPECT_EQ(kcp_client::create("127.0.0.1", 0), nullptr);
  std::unique_ptr<kcp_client> c(kcp_client::create("127.0.0.1", 27802));
  ASSERT_NE(c, nullptr);
  // Not connected: everything refuses, nothing blocks.
  kcp_header_t h{0, 0, 1};
  EXPECT_LT(c->send(&h, nullptr, 0), 0);
  auto r = receive(*c);
  EXPECT_LT(r.result, 0);
  EXPECT_FALSE(r.timed_out);
}

TEST(KcpEndpoint, ExchangesFramedMessages) {
  echo_server s;
  ASSERT_TRUE(s.started);
  auto c = connected_client(s.server->port());
  ASSERT_NE(c, nullptr);
  auto seen = s.wait([](const auto& r) { return r.accepted.size() == 1; });
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->peers[0].ip, "127.0.0.1");
  netra::kcp_peer_address peer;
  ASSERT_TRUE(s.server->peer(seen->accepted[0], &peer));
  EXPECT_EQ(peer.port, seen->peers[0].port);

  // A room join: 4 bytes out, the answer back with its own header.
  std::vector<uint8_t> room = {0, 0, 0x30, 0x39};
  ASSERT_EQ(send(*c, 30, room), 0);
  auto r = receive(*c);
  EXPECT_EQ(r.result, 12);
  EXPECT_EQ(r.header.type, 31u);
  EXPECT_EQ(r.header.length, 4);
  EXPECT_EQ(r.header.reserved, 0);
  EXPECT_EQ(r.payload, room);
  seen = s.wait([](const auto& r) { return r.messages.size() >= 1; });
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->messages[0].header.type, 30u);
  EXPECT_EQ(seen->messages[0].payload, room);

  // No payload, and the largest one (many fragments each way).
  ASSERT_EQ(send(*c, 100000, {}), 0);
  r = receive(*c);
  EXPECT_EQ(r.result, 8);
  EXPECT_EQ(r.header.type, 100001u);
  auto largest = bytes(kcp_max_payload, 1);
  ASSERT_EQ(send(*c, 65, largest), 0);
  r = receive(*c);
  EXPECT_EQ(r.result, static_cast<int>(kcp_max_payload + 8));
  EXPECT_EQ(r.payload, largest);

  // Too big for the caller's buffer: consumed and refused, the stream goes on.
  ASSERT_EQ(send(*c, 64, bytes(100, 2)), 0);
  ASSERT_EQ(send(*c, 64, bytes(10, 3)), 0);
  r = receive(*c, 99);
  EXPECT_LT(r.result, 0);
  EXPECT_FALSE(r.timed_out);
  r = receive(*c, 99);
  EXPECT_EQ(r.result, 18);
  EXPECT_EQ(r.payload, bytes(10, 3));

  // The lengths must agree.
  kcp_header_t h{0, 5, 1};
  uint8_t five[5] = {};
  EXPECT_LT(c->send(&h, five, 4), 0);
  EXPECT_LT(c->send(&h, nullptr, 5), 0);
  EXPECT_LT(c->send(nullptr, five, 5), 0);
}

TEST(KcpEndpoint, ReceiveTimeOutIsFlagged) {
  echo_server s;
  auto c = connected_client(s.server->port());
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->set_recv_timeout(200), 0);
  auto r = receive(*c);
  EXPECT_LT(r.result, 0);
  EXPECT_TRUE(r.timed_out);
  // The connection is still good afterwards.
  c->set_recv_timeout(20000);
  ASSERT_EQ(send(*c, 2, {9}), 0);
  r = receive(*c);
  EXPECT_EQ(r.header.type, 3u);
}

TEST(KcpEndpoint, ConnectFailsWhenNobodyAnswers) {
  asio::io_context io;
  udp::socket silent(io, udp::endpoint(asio::ip::address_v4::loopback(), 0));
  std::unique_ptr<kcp_client> c(kcp_client::create("127.0.0.1", silent.local_endpoint().port()));
  ASSERT_EQ(c->set_recv_timeout(300), 0);
  EXPECT_LT(c->connect(), 0);
  EXPECT_LT(send(*c, 1, {}), 0);

  // A server that refuses the client does not answer either.
  echo_server s;
  s.accept = false;
  std::unique_ptr<kcp_client> refused(kcp_client::create("127.0.0.1", s.server->port()));
  refused->set_recv_timeout(300);
  EXPECT_LT(refused->connect(), 0);
  EXPECT_EQ(s.server->session_count(), 0u);
  // Once let in, a new attempt (new conversation) connects.
  s.accept = true;
  refused->set_recv_timeout(20000);
  EXPECT_EQ(refused->connect(), 0);
}

TEST(KcpEndpoint, CloseWakesABlockedReceive) {
  echo_server s;
  auto c = connected_client(s.server->port());
  ASSERT_NE(c, nullptr);
  c->set_recv_timeout(60000);
  auto blocked = std::async(std::launch::async, [&] { return receive(*c); });
  // The receiver is (or soon will be) waiting; close must get it out either way.
  ASSERT_EQ(c->close(), 0);
  ASSERT_EQ(blocked.wait_for(patience), std::future_status::ready);
  auto r = blocked.get();
  EXPECT_LT(r.result, 0);
  EXPECT_FALSE(r.timed_out);
  EXPECT_LT(send(*c, 1, {}), 0);
  EXPECT_LT(c->connect(), 0);
  EXPECT_EQ(c->close(), 0);
}

TEST(KcpEndpoint, LastMessageBeforeCloseArrives) {
  echo_server s;
  s.echo = false;
  auto c = connected_client(s.server->port());
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(send(*c, 1, {}), 0);  // a leave notice
  c.reset();                      // closes
  auto seen = s.wait([](const auto& r) { return r.messages.size() == 1; });
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->messages[0].header.type, 1u);
}

TEST(KcpServer, SessionsEndByCloseAndIdleTimeOut) {
  netra::kcp_server_options options;
  options.idle_timeout_ms = 400;
  echo_server s(options);
  auto first = connected_client(s.server->port());
  auto second = connected_client(s.server->port());
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  auto seen = s.wait([](const auto& r) { return r.accepted.size() == 2; });
  ASSERT_TRUE(seen);
  EXPECT_NE(seen->accepted[0], seen->accepted[1]);
  EXPECT_NE(seen->peers[0].port, seen->peers[1].port);

  // Closed by the server: the event follows once drained, sends to it fail after.
  const session_id a = seen->accepted[0];
  ASSERT_EQ(s.server->close(a), 0);
  seen = s.wait([](const auto& r) { return !r.closed.empty(); });
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->closed[0], std::make_pair(a, kcp_close_reason::closed));
  kcp_header_t h{0, 0, 7};
  EXPECT_LT(s.server->send(a, h, nullptr, 0), 0);
  EXPECT_LT(s.server->close(a), 0);

  // Both clients stay silent (no keep-alive): the other session times out.
  seen = s.wait([](const auto& r) { return r.closed.size() == 2; });
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->closed[1].second, kcp_close_reason::idle);
  EXPECT_EQ(s.server->session_count(), 0u);
  // The server ended them: the first data of a client it closed (sn 0, which would
  // otherwise open a conversation) does not bring the session back.
  ASSERT_EQ(send(*first, 5, {}), 0);                // the client does not know yet
  auto third = connected_client(s.server->port());  // sent later, so handled later
  ASSERT_NE(third, nullptr);
  seen = s.wait([](const auto& r) { return r.accepted.size() >= 3; });
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->accepted.size(), 3u);
  EXPECT_EQ(s.server->session_count(), 1u);
  EXPECT_TRUE(seen->messages.empty());
}

TEST(KcpServer, GarbageOpensNoSession) {
  echo_server s;
  asio::io_context io;
  udp::socket junk(io, udp::endpoint(asio::ip::address_v4::loopback(), 0));
  udp::endpoint server(asio::ip::address_v4::loopback(), s.server->port());
  std::mt19937 rng(8);
  for (int i = 0; i < 500; ++i) {
    auto d = bytes(rng() % 200, i);
    if (!d.empty())
      junk.send_to(asio::buffer(d), server);
  }
  // Well-formed KCP in the middle of a conversation the server never saw.
  netra::kcp_segment_header h;
  h.conv = 77;
  h.cmd = netra::kcp_cmd_push;
  h.sn = 5;
  h.len = 0;
  uint8_t seg[24];
  netra::encode_segment_header(h, seg);
  junk.send_to(asio::buffer(seg), server);
  // A real client afterwards is the only session.
  auto c = connected_client(s.server->port());
  ASSERT_NE(c, nullptr);
  ASSERT_TRUE(s.wait([](const auto& r) { return r.accepted.size() == 1; }));
  EXPECT_EQ(s.server->session_count(), 1u);
  ASSERT_EQ(send(*c, 40, {1, 2}), 0);
  EXPECT_EQ(receive(*c).header.type, 41u);
}

TEST(KcpEndpoint, DeliversEverythingInOrderThroughALossyRelay) {
  echo_server s;
  netra_test::relay_profile lossy{0.2, 5, 15, 0.03};
  netra_test::udp_relay relay(s.server->port(), lossy, lossy, 1234);
  auto c = connected_client(relay.port());
  ASSERT_NE(c, nullptr);
  c->set_recv_timeout(20000);

  const int count = 300;
  std::vector<std::vector<uint8_t>> sent;
  for (int i = 0; i < count; ++i) {
    auto payload = bytes(1 + (i * 37) % (i % 10 == 0 ? 6000 : 400), i);
    payload[0] = static_cast<uint8_t>(i);
    sent.push_back(payload);
    ASSERT_EQ(send(*c, 64, payload), 0);
  }
  for (int i = 0; i < count; ++i) {
    auto r = receive(*c);
    ASSERT_GT(r.result, 0) << "message " << i << (r.timed_out ? " timed out" : " failed");
    EXPECT_EQ(r.header.type, 65u);
    ASSERT_EQ(r.payload, sent[i]) << "message " << i;
  }
  auto seen = s.wait([&](const auto& r) { return r.messages.size() == sent.size(); });
  ASSERT_TRUE(seen);
  for (int i = 0; i < count; ++i)
    ASSERT_EQ(seen->messages[i].payload, sent[i]);
  EXPECT_GT(relay.dropped(), 0u);
}

// A bare KCP peer on a socket, to send what our server never would.
class raw_peer {
public:
  raw_peer() {
    socket_.non_blocking(true);
    arm();
    thread_ = std::thread([this] {
      while (!quit_) {
        io_.run_for(std::chrono::milliseconds(5));
        std::lock_guard<std::mutex> lock(mutex_);
        if (session_)
          session_->update(now());
      }
    });
  }
  ~raw_peer() {
    quit_ = true;
    thread_.join();
  }
  uint16_t port() const { return socket_.local_endpoint().port(); }
  void send(const std::vector<uint8_t>& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    session_->send(message.data(), message.size());
    session_->update(now());
    session_->flush();
  }

private:
  static uint32_t now() {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
  void arm() {
    socket_.async_receive_from(asio::buffer(buf_), from_,
                               [this](const asio::error_code& ec, std::size_t n) {
                                 if (ec)
                                   return;
                                 std::lock_guard<std::mutex> lock(mutex_);
                                 if (!session_) {
                                   auto info = netra::inspect_datagram(buf_, n);
                                   client_ = from_;
                                   session_ = std::make_unique<netra::kcp_session>(
                                       info.conv, [this](const uint8_t* d, std::size_t len) {
                                         asio::error_code ignored;
                                         socket_.send_to(asio::buffer(d, len), client_, 0, ignored);
                                       });
                                 }
                                 session_->update(now());
                                 session_->input(buf_, n);
                                 session_->flush();
                                 std::vector<uint8_t> drop;
                                 while (session_->receive(drop) >= 0) {
                                 }
                                 arm();
                               });
  }

  asio::io_context io_;
  udp::socket socket_{io_, udp::endpoint(asio::ip::address_v4::loopback(), 0)};
  uint8_t buf_[65536];
  udp::endpoint from_, client_;
  std::mutex mutex_;
  std::unique_ptr<netra::kcp_session> session_;
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

TEST(KcpClient, MessagesWithABadHeaderAreDropped) {
  raw_peer peer;
  auto c = connected_client(peer.port());
  ASSERT_NE(c, nullptr);
  c->set_recv_timeout(20000);
  peer.send({0, 0, 0, 10, 0, 0, 0, 64, 1, 2, 3});  // says 10 payload bytes, has 3
  peer.send({1, 2, 3, 4, 5});                      // shorter than a header
  peer.send({});                                   // empty
  peer.send({0, 0, 0, 2, 0, 0, 0, 65, 7, 8});      // good
  auto r = receive(*c);
  EXPECT_EQ(r.result, 10);
  EXPECT_EQ(r.header.type, 65u);
  EXPECT_EQ(r.payload, (std::vector<uint8_t>{7, 8}));
}

}  // namespace

namespace {

// Segments of one datagram with the given command.
unsigned count_segments(const uint8_t* data, std::size_t size, uint8_t cmd) {
  unsigned n = 0;
  for (std::size_t pos = 0; pos + netra::kcp_overhead <= size;) {
    netra::kcp_segment_header h;
    netra::decode_segment_header(data + pos, size - pos, &h);
    n += h.cmd == cmd;
    pos += netra::kcp_overhead + h.len;
  }
  return n;
}

}  // namespace

// What a burst of datagrams asks of the server is answered together: the replies its
// handlers send while the burst is being read leave packed into a few datagrams, in order.
TEST(KcpServer, RepliesToABurstLeavePacked) {
  constexpr int burst = 24;  // inside the server's read batch
  std::promise<void> entered, gate;
  std::shared_future<void> open = gate.get_future().share();
  std::unique_ptr<kcp_server> server;
  kcp_server::handlers h;
  h.on_message = [&](session_id id, const kcp_header_t& header, const uint8_t* payload,
                     unsigned length) {
    if (header.type == 0) {  // the first: hold the network thread until the rest is queued
      entered.set_value();
      open.wait();
    }
    kcp_header_t back{0, header.length, header.type + 1000};
    server->send(id, back, payload, length);
  };
  h.on_log = [](const std::string&) {};
  server = std::make_unique<kcp_server>(netra::kcp_server_options(), h);
  ASSERT_EQ(server->start(), 0);

  asio::io_context io;
  udp::socket socket(io, udp::endpoint(asio::ip::address_v4::loopback(), 0));
  const udp::endpoint to(asio::ip::address_v4::loopback(), server->port());
  netra::kcp_session client(
      0x5eed, [&](const uint8_t* d, std::size_t n) { socket.send_to(asio::buffer(d, n), to); });
  uint32_t clock = 1000;
  auto send_one = [&](uint32_t type) {
    kcp_header_t header{0, 4, type};
    const uint8_t payload[4] = {0, 0, 0, static_cast<uint8_t>(type)};
    const auto message = netra::make_control_message(header, payload, 4);
    ASSERT_EQ(client.send(message.data(), message.size()), 0);
    client.update(clock++);  // one datagram per message
    client.flush();
  };
  send_one(0);
  ASSERT_EQ(entered.get_future().wait_for(patience), std::future_status::ready);
  for (int i = 1; i < burst; ++i)
    send_one(static_cast<uint32_t>(i));
  gate.set_value();

  socket.non_blocking(true);
  std::vector<uint32_t> types;
  unsigned data_datagrams = 0;
  std::vector<uint8_t> buffer(65536), message;
  const bool all = testsupport::eventually([&] {
    for (;;) {
      asio::error_code ec;
      udp::endpoint from;
      const std::size_t n = socket.receive_from(asio::buffer(buffer), from, 0, ec);
      if (ec)
        break;
      if (client.input(buffer.data(), n) != 0)
        continue;
      data_datagrams += count_segments(buffer.data(), n, netra::kcp_cmd_push) > 0;
      while (client.receive(message) >= 0) {
        kcp_header_t header;
        if (netra::decode_control_message(message.data(), message.size(), &header))
          types.push_back(header.type);
      }
      client.update(clock++);
      client.flush();  // acks, so that nothing is sent twice
    }
    return types.size() >= burst;
  });
  ASSERT_TRUE(all) << types.size() << " replies";
  for (int i = 0; i < burst; ++i)
    EXPECT_EQ(types[i], 1000u + i);
  // Unbatched, every reply would be a datagram of its own.
  EXPECT_LE(data_datagrams, 4u);
}

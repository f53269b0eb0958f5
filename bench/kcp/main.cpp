// bench-kcp: round-trip time of small periodic messages over our KCP and over kernel TCP,
// both across the same simulated lossy, delaying link (see sim_link.h). Run as root
// (otherwise it ends at once with exit code 77).
//
//   bench-kcp [--seconds N] [--drain N] [--seed N]
//
// Per case the client sends an 8-byte message (sequence, send time) every 20 ms for
// --seconds, the server echoes it, and answers still missing --drain seconds after the last
// send count as lost.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libnetra/kcp_client.h"
#include "netra/kcp_server.h"
#include "sim_link.h"

namespace {

using steady = std::chrono::steady_clock;
constexpr auto send_interval = std::chrono::milliseconds(20);
constexpr uint32_t echo_type = 1;

int64_t now_us() {
  return std::chrono::duration_cast<std::chrono::microseconds>(steady::now().time_since_epoch())
      .count();
}

// Both ends of one transport as the measuring loop sees them: a client that sends and
// receives 8-byte messages, and an echo server behind it.
class echo_path {
public:
  virtual ~echo_path() = default;
  virtual bool send(const uint8_t (&msg)[8]) = 0;
  // 1 a message arrived, 0 nothing within about 100 ms, -1 the connection failed.
  virtual int receive(uint8_t (&msg)[8]) = 0;
};

class kcp_path : public echo_path {
public:
  bool open(const sim_link& link, std::string* error) {
    netra::kcp_server_options options;
    options.ip = sim_link::addr_b;
    kcp_server_handlers_.on_message =
        [this](netra::kcp_server::session_id id, const kcp_header_t& header, const uint8_t* payload,
               unsigned length) { server_->send(id, header, payload, length); };
    kcp_server_handlers_.on_log = [](const std::string&) {};
    server_ = std::make_unique<netra::kcp_server>(options, kcp_server_handlers_);
    int started = -1;
    link.run_in_b([&] { started = server_->start(); });
    if (started != 0) {
      *error = "kcp_server did not start";
      return false;
    }
    int connected = -1;
    link.run_in_a([&] {
      client_.reset(kcp_client::create(sim_link::addr_b, server_->port()));
      if (client_)
        connected = client_->connect();
    });
    if (connected < 0) {
      *error = "kcp_client did not connect";
      return false;
    }
    client_->set_recv_timeout(100);
    return true;
  }
  ~kcp_path() override {
    client_.reset();
    if (server_)
      server_->stop();
  }
  bool send(const uint8_t (&msg)[8]) override {
    const kcp_header_t header{0, 8, echo_type};
    return client_->send(&header, msg, 8) == 0;
  }
  int receive(uint8_t (&msg)[8]) override {
    kcp_header_t header{};
    bool timed_out = false;
    int n = client_->recv(&header, msg, sizeof msg, &timed_out);
    if (n < 0)
      return timed_out ? 0 : -1;
    return n == 16 && header.type == echo_type ? 1 : 0;  // anything else is not ours
  }

private:
  netra::kcp_server::handlers kcp_server_handlers_;
  std::unique_ptr<netra::kcp_server> server_;
  std::unique_ptr<kcp_client> client_;
};

class tcp_path : public echo_path {
public:
  bool open(const sim_link& link, std::string* error) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    ::inet_pton(AF_INET, sim_link::addr_b, &addr.sin_addr);
    link.run_in_b([&] {
      listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      socklen_t len = sizeof addr;
      if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
          ::listen(listener_, 1) != 0 ||
          ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        *error = std::string("tcp listen: ") + std::strerror(errno);
    });
    if (!error->empty())
      return false;
    server_ = std::thread([this] { serve(); });
    link.run_in_a([&] { client_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); });
    // A lost SYN is resent after a second or more; connect() waits that out.
    if (client_ < 0 || ::connect(client_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      *error = std::string("tcp connect: ") + std::strerror(errno);
      return false;
    }
    int one = 1;
    ::setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
  }
  ~tcp_path() override {
    stop_ = true;
    if (client_ >= 0)
      ::shutdown(client_, SHUT_RDWR);
    if (server_.joinable())
      server_.join();
    for (int fd : {client_, listener_})
      if (fd >= 0)
        ::close(fd);
  }
  bool send(const uint8_t (&msg)[8]) override {
    return ::send(client_, msg, sizeof msg, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof msg);
  }
  int receive(uint8_t (&msg)[8]) override {
    std::size_t got = 0;
    while (got < sizeof msg) {
      pollfd p{client_, POLLIN, 0};
      int r = ::poll(&p, 1, 100);
      if (r == 0 && got == 0)
        return 0;
      if (r < 0 || stop_)
        return -1;
      if (r == 0)
        continue;  // mid-message: the rest is on its way
      ssize_t n = ::recv(client_, msg + got, sizeof msg - got, 0);
      if (n <= 0)
        return -1;
      got += static_cast<std::size_t>(n);
    }
    return 1;
  }

private:
  // Accepts one connection and echoes its bytes until stopped.
  void serve() {
    int conn = -1;
    while (!stop_ && conn < 0) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 100) > 0)
        conn = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    if (conn < 0)
      return;
    int one = 1;
    ::setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char buf[4096];
    while (!stop_) {
      pollfd p{conn, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0)
        continue;
      ssize_t n = ::recv(conn, buf, sizeof buf, 0);
      if (n <= 0 || ::send(conn, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n)
        break;
    }
    ::close(conn);
  }

  int listener_ = -1;
  int client_ = -1;
  std::atomic<bool> stop_{false};
  std::thread server_;
};

struct result {
  const char* transport = "";
  int loss_percent = 0;
  std::size_t sent = 0;
  std::size_t answered = 0;
  double p50_ms = 0, p99_ms = 0;
  std::string error;
};

double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty())
    return 0;
  std::size_t rank = static_cast<std::size_t>(p * static_cast<double>(sorted.size()) + 0.999999);
  return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

void measure(echo_path& path, int seconds, int drain_seconds, result* out) {
  const std::size_t count = static_cast<std::size_t>(seconds) * 1000 / send_interval.count();
  std::mutex mutex;
  std::vector<int64_t> sent_us(count, 0);
  std::vector<bool> answered(count, false);
  std::vector<double> rtts;
  std::atomic<bool> done{false};

  std::thread receiver([&] {
    uint8_t msg[8];
    while (!done) {
      int r = path.receive(msg);
      if (r < 0)
        break;
      if (r == 0)
        continue;
      const int64_t now = now_us();
      uint32_t seq;
      std::memcpy(&seq, msg, 4);
      std::lock_guard<std::mutex> lock(mutex);
      if (seq < count && sent_us[seq] != 0 && !answered[seq]) {
        answered[seq] = true;
        rtts.push_back(static_cast<double>(now - sent_us[seq]) / 1000.0);
      }
    }
  });

  const auto start = steady::now();
  const int64_t start_us = now_us();
  std::size_t sent = 0;
  for (uint32_t seq = 0; seq < count; ++seq) {
    std::this_thread::sleep_until(start + seq * send_interval);
    uint8_t msg[8];
    const int64_t now = now_us();
    const uint32_t since_start_us = static_cast<uint32_t>(now - start_us);
    std::memcpy(msg, &seq, 4);
    std::memcpy(msg + 4, &since_start_us, 4);
    {
      std::lock_guard<std::mutex> lock(mutex);
      sent_us[seq] = now;
    }
    if (!path.send(msg))
      break;
    ++sent;
  }

  // Wait for late answers, but no longer than the drain time.
  const auto drain_end = steady::now() + std::chrono::seconds(drain_seconds);
  while (steady::now() < drain_end) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (rtts.size() == sent)
        break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  done = true;
  receiver.join();

  std::sort(rtts.begin(), rtts.end());
  out->sent = sent;
  out->answered = rtts.size();
  out->p50_ms = percentile(rtts, 0.50);
  out->p99_ms = percentile(rtts, 0.99);
}

int parse_positive(const char* text) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && v > 0 && v <= 3600 ? static_cast<int>(v) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 10, drain = 3, seed = 7;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    int* target = arg == "--seconds" ? &seconds
                  : arg == "--drain" ? &drain
                  : arg == "--seed"  ? &seed
                                     : nullptr;
    if (!target || i + 1 >= argc || (*target = parse_positive(argv[++i])) < 0) {
      std::fprintf(stderr, "usage: bench-kcp [--seconds N] [--drain N] [--seed N] (N 1..3600)\n");
      return 1;
    }
  }
  if (::geteuid() != 0) {
    std::fprintf(stderr,
                 "bench-kcp: must run as root (it builds network namespaces and TUN "
                 "devices for the simulated link)\n");
    return 77;  // skipped, not failed: ctest's SKIP_RETURN_CODE
  }
  sim_link link;
  std::string error;
  if (!link.open(&error)) {
    std::fprintf(stderr, "bench-kcp: cannot build the simulated link: %s\n", error.c_str());
    return 2;
  }

  std::printf(
      "simulated link: %s <-> %s, one-way delay 30-60 ms uniform, loss per packet and "
      "direction; one 8-byte message every %d ms for %d s per case, drain %d s, "
      "seed %d\n\n",
      sim_link::addr_a, sim_link::addr_b, static_cast<int>(send_interval.count()), seconds, drain,
      seed);
  std::printf("%-9s %6s %9s %9s %6s %9s %9s\n", "transport", "loss%", "messages", "answered",
              "lost", "p50 ms", "p99 ms");
  std::fflush(stdout);

  for (int loss : {0, 10, 20}) {
    for (const char* transport : {"kcp", "tcp"}) {
      result r;
      r.transport = transport;
      r.loss_percent = loss;
      link.set_loss(loss / 100.0, static_cast<uint32_t>(seed * 1000 + loss));
      std::unique_ptr<echo_path> path;
      if (std::string(transport) == "kcp") {
        auto p = std::make_unique<kcp_path>();
        if (p->open(link, &r.error))
          path = std::move(p);
      } else {
        auto p = std::make_unique<tcp_path>();
        if (p->open(link, &r.error))
          path = std::move(p);
      }
      if (path)
        measure(*path, seconds, drain, &r);
      if (!r.error.empty())
        std::printf("%-9s %5d%% failed: %s\n", r.transport, r.loss_percent, r.error.c_str());
      else
        std::printf("%-9s %5d%% %9zu %9zu %6zu %9.1f %9.1f\n", r.transport, r.loss_percent, r.sent,
                    r.answered, r.sent - r.answered, r.p50_ms, r.p99_ms);
      std::fflush(stdout);
    }
  }
  return 0;
}

// bench-video-mcu: forwarding capacity of the MCU's media relay (one network thread, so one
// core) with one video publisher and N listeners on loopback. The publisher sends 1200-byte
// media packets at a paced rate for one second; the rate doubles until more than 1 % of what
// should reach the listeners does not. Reported: the highest clean rate, as packets and
// Mbit/s in and out. The listeners' sockets are read by one thread of this program, which
// shares the machine with the relay.
//
//   bench-video-mcu [--listeners 1,10,50] [--max-rate 160000]   (packets per second)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mcu/media_router.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr uint32_t room = 1, publisher = 100;
// Everything runs on loopback: the ports take datagrams from 127.0.0.1.
constexpr uint32_t loopback = 0x7F000001;
constexpr std::size_t packet_size = 1200;

int loopback_socket() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int size = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  return fd;
}

void send_to(int fd, uint16_t port, const uint8_t* data, std::size_t n) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  sendto(fd, data, n, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
}

void media_packet(std::vector<uint8_t>* p, uint16_t seq) {
  (*p)[0] = 0x80;
  (*p)[1] = 100;
  (*p)[2] = static_cast<uint8_t>(seq >> 8);
  (*p)[3] = static_cast<uint8_t>(seq);
  const uint32_t ts = seq / 10u;  // ten packets a frame
  for (int i = 0; i < 4; ++i) {
    (*p)[4 + i] = static_cast<uint8_t>(ts >> (24 - 8 * i));
    (*p)[8 + i] = static_cast<uint8_t>(publisher >> (24 - 8 * i));
  }
  (*p)[12] = 1;
}

struct trial {
  uint64_t sent = 0, received = 0, relayed = 0;
};

class setup {
public:
  explicit setup(int listeners) {
    mcu::media_router_options options;
    options.port_base = 0;
    router_ = std::make_unique<mcu::media_router>(options);
    in_ = router_->open_publisher(room, publisher, 1, loopback);
    publisher_fd_ = loopback_socket();
    for (int i = 0; i < listeners; ++i) {
      const uint32_t id = 1000 + i;
      const pavo_wire::media_token token{};  // the session's, as the room would hand it out
      const uint16_t port = router_->open_subscriber(room, id, publisher, 1, loopback, token);
      const int fd = loopback_socket();
      uint8_t hello[pavo_wire::media_registration_size];
      pavo_wire::write_media_registration(hello, id, token);
      send_to(fd, port, hello, sizeof hello);
      fds_.push_back(fd);
    }
    reader_ = std::thread([this] { read_loop(); });
  }
  ~setup() {
    stop_ = true;
    reader_.join();
    for (int fd : fds_)
      close(fd);
    close(publisher_fd_);
  }

  // Until every listener gets packets (the registrations are in); false after 20 s.
  bool ready() {
    std::vector<uint8_t> p(packet_size);
    const auto deadline = clock_type::now() + std::chrono::seconds(20);
    while (clock_type::now() < deadline) {
      const uint64_t before = received_;
      media_packet(&p, seq_++);
      send_to(publisher_fd_, in_, p.data(), p.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (received_ - before >= fds_.size())
        return true;
    }
    return false;
  }

  trial run(uint64_t rate) {
    quiet();
    trial t;
    const uint64_t received_before = received_;
    const uint64_t relayed_before = router_->stats().datagrams_out;
    std::vector<uint8_t> p(packet_size);
    const auto start = clock_type::now();
    // In 1 ms steps, what is due by then.
    for (int ms = 1; ms <= 1000; ++ms) {
      const uint64_t due = rate * ms / 1000;
      while (t.sent < due) {
        media_packet(&p, seq_++);
        send_to(publisher_fd_, in_, p.data(), p.size());
        ++t.sent;
      }
      std::this_thread::sleep_until(start + std::chrono::milliseconds(ms));
    }
    quiet();
    t.received = received_ - received_before;
    t.relayed = router_->stats().datagrams_out - relayed_before;
    return t;
  }

  std::size_t listeners() const { return fds_.size(); }

private:
  // Waits until nothing arrives for 200 ms (at most 3 s).
  void quiet() {
    const auto deadline = clock_type::now() + std::chrono::seconds(3);
    uint64_t last = received_;
    while (clock_type::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      if (received_ == last)
        return;
      last = received_;
    }
  }

  void read_loop() {
    std::vector<pollfd> waits;
    for (int fd : fds_)
      waits.push_back({fd, POLLIN, 0});
    std::vector<uint8_t> buffer(2048);
    while (!stop_) {
      if (poll(waits.data(), waits.size(), 50) <= 0)
        continue;
      for (const pollfd& w : waits) {
        if (!(w.revents & POLLIN))
          continue;
        for (int i = 0; i < 256 && recv(w.fd, buffer.data(), buffer.size(), 0) > 0; ++i)
          ++received_;
      }
    }
  }

  std::unique_ptr<mcu::media_router> router_;
  uint16_t in_ = 0;
  int publisher_fd_ = -1;
  std::vector<int> fds_;
  std::thread reader_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> received_{0};
  uint16_t seq_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts{1, 10, 50};
  uint64_t max_rate = 160000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--listeners") == 0) {
      counts.clear();
      std::istringstream list(argv[i + 1]);
      for (std::string n; std::getline(list, n, ',');)
        if (const int v = std::atoi(n.c_str()); v > 0 && v <= 500)
          counts.push_back(v);
    } else if (std::strcmp(argv[i], "--max-rate") == 0) {
      max_rate = std::strtoull(argv[i + 1], nullptr, 10);
    }
  }
  std::printf("%9s %12s %14s %14s %12s %8s\n", "listeners", "in pkt/s", "out pkt/s", "out Mbit/s",
              "relayed", "loss");
  int status = counts.empty() ? 1 : 0;
  for (int listeners : counts) {
    setup s(listeners);
    if (!s.ready()) {
      std::fprintf(stderr, "%9d: the listeners do not register\n", listeners);
      status = 1;
      continue;
    }
    uint64_t best_rate = 0;
    trial best;
    for (uint64_t rate = 2500; rate <= std::max<uint64_t>(max_rate, 2500); rate *= 2) {
      const trial t = s.run(rate);
      const double expected = double(t.sent) * listeners;
      const double loss = expected > 0 ? 1.0 - double(t.received) / expected : 1.0;
      std::printf("%9d %12llu %14.0f %14.1f %12llu %7.2f%%\n", listeners,
                  static_cast<unsigned long long>(rate), expected, expected * packet_size * 8 / 1e6,
                  static_cast<unsigned long long>(t.relayed), loss * 100);
      if (loss > 0.01)
        break;
      best_rate = rate;
      best = t;
    }
    std::printf("%9d  clean up to %llu pkt/s in, %.0f pkt/s and %.1f Mbit/s out\n\n", listeners,
                static_cast<unsigned long long>(best_rate), double(best.received),
                double(best.received) * packet_size * 8 / 1e6);
  }
  return status;
}

#include "sim_link.h"

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <vector>

namespace {

constexpr int64_t min_delay_us = 30000;
constexpr int64_t max_delay_us = 60000;
constexpr std::size_t max_held = 20000;  // packets in flight; more are dropped

int64_t now_us() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

sim_link::~sim_link() {
  stop_ = true;
  if (relay_.joinable())
    relay_.join();
  for (int fd : {tun_a_, tun_b_, ns_a_, ns_b_})
    if (fd >= 0)
      ::close(fd);
}

bool sim_link::run_in(int ns_fd, const std::function<void()>& fn) {
  bool entered = false;
  std::thread t([&] {
    if (ns_fd < 0 || ::setns(ns_fd, CLONE_NEWNET) != 0)
      return;
    entered = true;
    fn();
  });
  t.join();
  return entered;
}

// On a thread of its own: a new namespace for that thread alone, a TUN device in it, and
// `ip` (a child of this thread, so in the same namespace) to address it.
bool sim_link::make_end(const char* local, const char* peer, int* ns_fd, int* tun_fd,
                        std::string* error) {
  std::thread t([&] {
    if (::unshare(CLONE_NEWNET) != 0) {
      *error = std::string("cannot create a network namespace: ") + std::strerror(errno);
      return;
    }
    int tun = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (tun < 0) {
      *error = std::string("cannot open /dev/net/tun: ") + std::strerror(errno);
      return;
    }
    ifreq req{};
    req.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(req.ifr_name, "tav0", IFNAMSIZ - 1);
    if (::ioctl(tun, TUNSETIFF, &req) != 0) {
      *error = std::string("TUNSETIFF failed: ") + std::strerror(errno);
      ::close(tun);
      return;
    }
    const std::string cmd = std::string("ip link set lo up && ip addr add ") + local + " peer " +
                            peer + " dev tav0 && ip link set tav0 mtu 1400 up";
    if (std::system(cmd.c_str()) != 0) {
      *error = "cannot configure the TUN device: " + cmd;
      ::close(tun);
      return;
    }
    int ns = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (ns < 0) {
      *error = std::string("cannot hold the namespace: ") + std::strerror(errno);
      ::close(tun);
      return;
    }
    *ns_fd = ns;
    *tun_fd = tun;
  });
  t.join();
  return *ns_fd >= 0;
}

bool sim_link::open(std::string* error) {
  if (!make_end(addr_a, addr_b, &ns_a_, &tun_a_, error) ||
      !make_end(addr_b, addr_a, &ns_b_, &tun_b_, error))
    return false;
  relay_ = std::thread([this] { relay(); });
  return true;
}

void sim_link::set_loss(double probability, uint32_t seed) {
  std::lock_guard<std::mutex> lock(mutex_);
  loss_ = probability;
  rng_.seed(seed);
}

bool sim_link::decide(int64_t* delay_us) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::uniform_real_distribution<double>(0, 1)(rng_) < loss_)
    return false;
  *delay_us = std::uniform_int_distribution<int64_t>(min_delay_us, max_delay_us)(rng_);
  return true;
}

void sim_link::relay() {
  struct held {
    int64_t due_us;
    uint64_t order;  // keeps equal release times in arrival order
    int to_fd;
    std::vector<uint8_t> data;
  };
  auto later = [](const held& x, const held& y) {
    return x.due_us != y.due_us ? x.due_us > y.due_us : x.order > y.order;
  };
  std::priority_queue<held, std::vector<held>, decltype(later)> queue(later);
  uint64_t order = 0;
  std::vector<uint8_t> buf(65536);
  pollfd fds[2] = {{tun_a_, POLLIN, 0}, {tun_b_, POLLIN, 0}};

  while (!stop_) {
    const int64_t now = now_us();
    while (!queue.empty() && queue.top().due_us <= now) {
      const held& h = queue.top();
      // A full device queue just loses the packet, as a real link would.
      (void)!::write(h.to_fd, h.data.data(), h.data.size());
      queue.pop();
    }
    int64_t wait_us = 20000;
    if (!queue.empty())
      wait_us = std::min(wait_us, queue.top().due_us - now);
    timespec ts{0, static_cast<long>(std::max<int64_t>(wait_us, 0) * 1000)};
    if (::ppoll(fds, 2, &ts, nullptr) <= 0)
      continue;
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & POLLIN))
        continue;
      for (;;) {
        ssize_t n = ::read(fds[i].fd, buf.data(), buf.size());
        if (n <= 0)
          break;
        int64_t delay = 0;
        if (!decide(&delay) || queue.size() >= max_held)
          continue;
        queue.push({now_us() + delay, order++, fds[1 - i].fd,
                    std::vector<uint8_t>(buf.begin(), buf.begin() + n)});
      }
    }
  }
}

// bench-msg-fanout: one channel of N raw protocol clients on an in-process
// message server; one of them sends to "*". Prints the fan-out latency (send
// until the last member has the message) and deliveries per second.
//
//   bench-msg-fanout [--clients 50,500] [--sequential 200] [--messages 2000]
//                    [--window 32] [--bytes 200] [--nodes 1] [--nats]
//                    [--nats-server PATH | --nats-url URL]
//
// --nodes N: N message servers joined by NATS (a nats-server started here on
// a free port, or the one of --nats-url), the members spread over them in
// turn, the sender on the first; --nats: through NATS with one node too.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ChildNats.h"
#include "msg_wire.h"
#include "msgserver/Server.h"
#include "tavsrv/Credential.h"

namespace {

namespace wire = corda::wire;
using Clock = std::chrono::steady_clock;

// The members sign their own credentials with the secret the server is given.
const std::string kBenchSecret = "bench-msg-fanout";
constexpr std::uint32_t kChannel = 4242;

struct Options {
  std::vector<int> clients{50, 500};
  int sequential = 200;
  int messages = 2000;
  int window = 32;
  int bytes = 200;
  int nodes = 1;
  bool nats = false;
  std::string nats_server = "/usr/sbin/nats-server";
  std::string nats_url;
};

struct Member {
  int fd = -1;
  std::string rx;
  bool welcomed = false;
};

bool write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EAGAIN) {
      std::this_thread::yield();
      continue;
    }
    if (n <= 0)
      return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int connect_member(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0)
    return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// Counts, per sequence number, how many members have the message; records the
// moment the last one got it.
class FanoutBoard {
public:
  void reset(int members, int messages) {
    std::lock_guard<std::mutex> lock(mutex_);
    members_ = members;
    counts_.assign(static_cast<std::size_t>(messages), 0);
    sent_.assign(static_cast<std::size_t>(messages), Clock::time_point{});
    done_at_.assign(static_cast<std::size_t>(messages), Clock::time_point{});
    completed_ = 0;
    deliveries_ = 0;
  }
  void sent(int seq) {
    std::lock_guard<std::mutex> lock(mutex_);
    sent_[static_cast<std::size_t>(seq)] = Clock::now();
  }
  void received(int seq) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (seq < 0 || static_cast<std::size_t>(seq) >= counts_.size())
      return;
    ++deliveries_;
    if (++counts_[static_cast<std::size_t>(seq)] == members_) {
      done_at_[static_cast<std::size_t>(seq)] = Clock::now();
      ++completed_;
      changed_.notify_all();
    }
  }
  // Waits until at least n messages reached everybody; false after 20 s without progress.
  bool wait_completed(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    int last = completed_;
    while (completed_ < n) {
      if (!changed_.wait_for(lock, std::chrono::seconds(20), [&] { return completed_ != last; }))
        return false;
      last = completed_;
    }
    return true;
  }
  std::vector<double> latencies_ms() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<double> out;
    for (std::size_t i = 0; i < sent_.size(); ++i)
      if (counts_[i] == members_)
        out.push_back(std::chrono::duration<double, std::milli>(done_at_[i] - sent_[i]).count());
    return out;
  }
  Clock::time_point last_done() {
    std::lock_guard<std::mutex> lock(mutex_);
    return *std::max_element(done_at_.begin(), done_at_.end());
  }
  long deliveries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return deliveries_;
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int members_ = 0;
  std::vector<int> counts_;
  std::vector<Clock::time_point> sent_;
  std::vector<Clock::time_point> done_at_;
  int completed_ = 0;
  long deliveries_ = 0;
};

// Reads every member's socket on one thread and tells the board what arrived.
class Receiver {
public:
  Receiver(std::vector<Member>& members, FanoutBoard& board) : members_(members), board_(board) {
    epoll_ = ::epoll_create1(0);
    for (std::size_t i = 0; i < members_.size(); ++i) {
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.u64 = i;
      ::epoll_ctl(epoll_, EPOLL_CTL_ADD, members_[i].fd, &ev);
    }
    thread_ = std::thread([this] { run(); });
  }
  ~Receiver() {
    stop_ = true;
    thread_.join();
    ::close(epoll_);
  }
  int welcomed() const { return welcomed_; }
  bool failed() const { return failed_; }

private:
  void run() {
    std::vector<epoll_event> events(256);
    std::vector<char> chunk(1 << 16);
    std::vector<wire::Frame> frames;
    while (!stop_) {
      const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 100);
      for (int e = 0; e < n; ++e) {
        Member& m = members_[events[static_cast<std::size_t>(e)].data.u64];
        const ssize_t got = ::recv(m.fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN)) {
          failed_ = true;  // the server closed a member: the figures would be wrong
          ::epoll_ctl(epoll_, EPOLL_CTL_DEL, m.fd, nullptr);
          continue;
        }
        if (got < 0)
          continue;
        m.rx.append(chunk.data(), static_cast<std::size_t>(got));
        frames.clear();
        const auto result = wire::decode_frames(m.rx, frames);
        for (const auto& f : frames) {
          if (f.type == wire::FrameType::welcome && !m.welcomed) {
            m.welcomed = true;
            ++welcomed_;
          } else if (f.type == wire::FrameType::deliver) {
            const auto d = wire::decode_deliver(f.payload);
            int seq = -1;
            if (d && d->text.size() > 8 && d->text.compare(0, 7, "{\"seq\":") == 0)
              seq = std::atoi(std::string(d->text.substr(7, 10)).c_str());
            board_.received(seq);
          }
        }
        m.rx.erase(0, result.consumed);
      }
    }
  }

  std::vector<Member>& members_;
  FanoutBoard& board_;
  int epoll_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> welcomed_{0};
  std::atomic<bool> failed_{false};
};

std::string message(int seq, int bytes) {
  std::string text = "{\"seq\":" + std::to_string(seq) + ",\"typeId\":\"99\",\"pad\":\"";
  if (static_cast<int>(text.size()) + 2 < bytes)
    text.append(static_cast<std::size_t>(bytes) - text.size() - 2, 'x');
  return text + "\"}";
}

double percentile(std::vector<double> v, double p) {
  if (v.empty())
    return 0;
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// CPU seconds of this process (servers, members and all) and of a child (nats-server).
double own_cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
double child_cpu_seconds(pid_t pid) {
  if (pid <= 0)
    return 0;
  std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (!f)
    return 0;
  char text[1024] = {};
  const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  // Fields 14 and 15 (user and system ticks) follow the command name in parentheses.
  const char* rest = std::strrchr(text, ')');
  unsigned long long user = 0, system = 0;
  if (n == 0 || !rest ||
      std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
                  &system) != 2)
    return 0;
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

bool run_group(const std::vector<std::uint16_t>& ports, int count, const Options& opt,
               pid_t nats_pid) {
  std::vector<Member> members(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < members.size(); ++i) {
    Member& m = members[i];
    m.fd = connect_member(ports[i % ports.size()]);
    if (m.fd < 0) {
      std::fprintf(stderr, "connect failed: %s\n", std::strerror(errno));
      return false;
    }
  }
  FanoutBoard board;
  Receiver receiver(members, board);
  for (std::size_t i = 0; i < members.size(); ++i) {
    const auto user = static_cast<std::uint32_t>(i + 1);
    const std::string credential = tavsrv::signCredential(
        kBenchSecret, {user, kChannel, 2, std::numeric_limits<std::int64_t>::max()});
    write_all(members[i].fd,
              wire::encode_hello({wire::kProtocolVersion, user, kChannel, credential}));
  }
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (receiver.welcomed() < count && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (receiver.welcomed() < count) {
    std::fprintf(stderr, "only %d of %d members welcomed\n", receiver.welcomed(), count);
    return false;
  }
  const int sender = members.front().fd;

  // Sequential: one message at a time, each waited for by everybody.
  board.reset(count, opt.sequential);
  for (int seq = 0; seq < opt.sequential; ++seq) {
    board.sent(seq);
    if (!write_all(sender, wire::encode_send("*", message(seq, opt.bytes))) ||
        !board.wait_completed(seq + 1)) {
      std::fprintf(stderr, "sequential phase stalled at %d\n", seq);
      return false;
    }
  }
  const auto quiet = board.latencies_ms();

  // Windowed: up to `window` messages in flight.
  board.reset(count, opt.messages);
  const double cpu_before = own_cpu_seconds(), nats_before = child_cpu_seconds(nats_pid);
  const auto start = Clock::now();
  for (int seq = 0; seq < opt.messages; ++seq) {
    if (seq >= opt.window && !board.wait_completed(seq - opt.window + 1)) {
      std::fprintf(stderr, "windowed phase stalled at %d\n", seq);
      return false;
    }
    board.sent(seq);
    if (!write_all(sender, wire::encode_send("*", message(seq, opt.bytes))))
      return false;
  }
  if (!board.wait_completed(opt.messages)) {
    std::fprintf(stderr, "windowed phase did not finish\n");
    return false;
  }
  const double seconds = std::chrono::duration<double>(board.last_done() - start).count();
  const double cpu = own_cpu_seconds() - cpu_before;
  const double nats_cpu = child_cpu_seconds(nats_pid) - nats_before;
  const auto loaded = board.latencies_ms();
  if (receiver.failed()) {
    std::fprintf(stderr, "the server closed a member\n");
    return false;
  }

  std::printf("%7d  sequential  %8d  %7.3f  %7.3f  %7.3f\n", count, opt.sequential,
              percentile(quiet, 0.5), percentile(quiet, 0.99), percentile(quiet, 1.0));
  std::printf("%7d  window %-4d  %8d  %7.3f  %7.3f  %7.3f  %12.0f\n", count, opt.window,
              opt.messages, percentile(loaded, 0.5), percentile(loaded, 0.99),
              percentile(loaded, 1.0), static_cast<double>(board.deliveries()) / seconds);
  // CPU per delivery over the windowed phase: this process holds the nodes and the members'
  // reading too, so only the differences between settings speak of the servers.
  std::printf("         cpu per delivery: %.2f us here, %.2f us nats-server\n",
              cpu * 1e6 / static_cast<double>(board.deliveries()),
              nats_cpu * 1e6 / static_cast<double>(board.deliveries()));
  std::fflush(stdout);
  for (auto& m : members)
    ::close(m.fd);
  return true;
}

std::vector<int> parse_list(const char* text) {
  std::vector<int> out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ','))
    if (const int v = std::atoi(item.c_str()); v > 0)
      out.push_back(v);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--nats") {
      opt.nats = true;
      --i;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "%s needs a value\n", key.c_str());
      return 2;
    }
    const char* value = argv[i + 1];
    if (key == "--clients")
      opt.clients = parse_list(value);
    else if (key == "--sequential")
      opt.sequential = std::max(1, std::atoi(value));
    else if (key == "--messages")
      opt.messages = std::max(1, std::atoi(value));
    else if (key == "--window")
      opt.window = std::max(1, std::atoi(value));
    else if (key == "--bytes")
      opt.bytes = std::max(16, std::atoi(value));
    else if (key == "--nodes")
      opt.nodes = std::max(1, std::atoi(value));
    else if (key == "--nats-server")
      opt.nats_server = value;
    else if (key == "--nats-url")
      opt.nats_url = value;
    else {
      std::fprintf(stderr, "unknown option %s\n", key.c_str());
      return 2;
    }
  }
  std::signal(SIGPIPE, SIG_IGN);

  // Two descriptors per member (ours and the server's) plus spare.
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  ::getrlimit(RLIMIT_NOFILE, &limit);
  for (int c : opt.clients) {
    if (static_cast<rlim_t>(2 * c + 64) > limit.rlim_cur) {
      std::fprintf(stderr, "%d clients need %d descriptors; the limit is %llu\n", c, 2 * c + 64,
                   static_cast<unsigned long long>(limit.rlim_cur));
      return 1;
    }
  }

  msgserver::Config config;
  config.listen_port = 0;
  config.internal_token = kBenchSecret;
  config.idle_timeout = std::chrono::minutes(10);  // the raw members never ping
  // Every member comes from this host and all connect before the first hello.
  config.max_pending_per_address = 1u << 16;
  std::unique_ptr<testsupport::ChildNats> nats;
  if (opt.nodes > 1 || opt.nats) {
    if (opt.nats_url.empty()) {
      nats = std::make_unique<testsupport::ChildNats>(opt.nats_server);
      if (!nats->ok()) {
        std::fprintf(stderr, "%s did not start (--nats-server PATH or --nats-url URL)\n",
                     opt.nats_server.c_str());
        return 1;
      }
      opt.nats_url = nats->url();
    }
    config.nats_urls = {opt.nats_url};
  }
  std::vector<std::unique_ptr<msgserver::Server>> servers;
  std::vector<std::uint16_t> ports;
  for (int n = 0; n < opt.nodes; ++n) {
    servers.push_back(std::make_unique<msgserver::Server>(config));
    ports.push_back(servers.back()->start());
    if (ports.back() == 0) {
      std::fprintf(stderr, "server: %s\n", servers.back()->error().c_str());
      return 1;
    }
  }
  // A node takes members once it has NATS.
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  for (const auto& server : servers) {
    while (!config.nats_urls.empty() && !server->stats().cluster_up && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::printf("%d node(s)%s; message bytes %d; latency = send until the last member has it (ms)\n",
              opt.nodes, config.nats_urls.empty() ? "" : " joined by NATS", opt.bytes);
  std::printf("clients  phase       messages      p50      p99      max  deliveries/s\n");
  for (int c : opt.clients) {
    if (!run_group(ports, c, opt, nats ? nats->pid() : -1))
      return 1;
  }
  msgserver::Stats stats;
  for (const auto& server : servers) {
    const auto s = server->stats();
    stats.messages += s.messages;
    stats.deliveries += s.deliveries;
    stats.slow_consumers += s.slow_consumers;
    stats.cluster_failed += s.cluster_failed;
  }
  std::printf(
      "servers: %llu messages relayed, %llu deliveries, %llu slow consumers, %llu not "
      "taken by NATS\n",
      static_cast<unsigned long long>(stats.messages),
      static_cast<unsigned long long>(stats.deliveries),
      static_cast<unsigned long long>(stats.slow_consumers),
      static_cast<unsigned long long>(stats.cluster_failed));
  return 0;
}

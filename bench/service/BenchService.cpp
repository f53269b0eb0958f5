// Measures the service: requests per second, p50/p99 latency and CPU time per
// request of login, the room list (findRoomByGlobalId), the presence heartbeat
// and the member lookups, each with N concurrent keep-alive clients for a fixed
// time. The service runs as its own process (tav-service on a temporary store,
// or --service-bin another build of it) unless --host/--port name a running one
// (seeded demo data; its CPU is then not known). With --store postgresql the
// store is a PostgreSQL server the bench starts (Debian's, durable as
// deployed), and with --nodes N that many service processes share it, the
// clients spread over them (client i to node i mod N, as a round-robin load
// balancer would); the CPU time then counts every service node and every
// process of the database server. For scale, right before each service figure
// the same clients measure a bare cpp-httplib server, also a process of its own
// (this program with --serve-bare), answering the very body the service
// answered; each service figure is followed by its ratio to that. With
// --rounds N the two alternate N times and the median ratio closes the
// measurement: on a machine whose speed wanders, one pair says little.
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "tavsrv/Answer.h"
#include "tavsrv/Flags.h"
#ifdef TAV_BENCH_POSTGRES
#include "ScratchPostgres.h"
#endif

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using tavsrv::json;

namespace {
const char* kAccounts[] = {"teacher",  "assistant", "student1", "student2", "student3",
                           "student4", "parent",    "auditor",  "inspector"};

struct Client {
  std::unique_ptr<httplib::Client> http;
  uint32_t userId = 0;
  std::string ticket;
};

struct Result {
  std::vector<double> latenciesMs;
  long errors = 0;
  double seconds = 0;
  double cpuSeconds = -1;  // of the server process, -1 when not known
};

// A program started by the bench, its first output line read (where it listens).
class Child {
public:
  Child(const std::string& binary, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0)
      return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execv(binary.c_str(), argv.data());
      _exit(127);
    }
    ::close(out[1]);
    fd_ = out[0];
    std::string line;
    while (line.find('\n') == std::string::npos) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 60000) <= 0)
        break;
      char buffer[256];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0)
        break;
      line.append(buffer, static_cast<size_t>(n));
    }
    const auto colon = line.rfind(':');
    if (line.find("listening on") != std::string::npos && colon != std::string::npos)
      port_ = std::atoi(line.c_str() + colon + 1);
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0)
      ::close(fd_);
  }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }

private:
  pid_t pid_ = -1;
  int fd_ = -1;
  int port_ = 0;
};

// User plus system CPU seconds a process has used, -1 when it cannot be read.
double cpuSeconds(pid_t pid) {
  if (pid <= 0)
    return -1;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos)
    return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14)
      utime = std::stoull(field);
    if (i == 15) {
      stime = std::stoull(field);
      break;
    }
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

json post(httplib::Client& http, const std::string& path, const std::string& body,
          const std::string& ticket, std::string* raw = nullptr) {
  httplib::Headers headers;
  if (!ticket.empty())
    headers.emplace("X-Tav-Ticket", ticket);
  auto res = http.Post(("/" + path).c_str(), headers, body, "application/x-www-form-urlencoded");
  if (!res || res->status != 200)
    return nullptr;
  if (raw)
    *raw = res->body;
  return json::parse(tavsrv::unnest(res->body), nullptr, false);
}

// pid and the processes it started (a database server's), as found now.
std::vector<pid_t> withChildren(pid_t pid) {
  std::vector<pid_t> pids{pid};
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos)
      continue;
    std::ifstream in(it->path() / "stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    std::istringstream fields(close == std::string::npos ? "" : text.substr(close + 2));
    std::string state;
    long parent = 0;
    if (fields >> state >> parent && parent == pid)
      pids.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return pids;
}

// CPU seconds of all of pids, -1 when one cannot be read (or there are none).
double cpuSeconds(const std::vector<pid_t>& pids) {
  double total = pids.empty() ? -1 : 0;
  for (pid_t pid : pids) {
    const double one = cpuSeconds(pid);
    if (one < 0)
      return -1;
    total += one;
  }
  return total;
}

// Runs request(client) on every client in its own thread for `seconds`;
// serverPids: the processes whose CPU time is counted.
template <class Request>
Result run(std::vector<Client>& clients, double seconds, const std::vector<pid_t>& serverPids,
           Request request) {
  Result total;
  std::mutex mutex;
  std::vector<std::thread> threads;
  const double cpuBefore = cpuSeconds(serverPids);
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  for (auto& client : clients) {
    threads.emplace_back([&, c = &client] {
      std::vector<double> mine;
      long errors = 0;
      while (Clock::now() < end) {
        const auto t0 = Clock::now();
        const bool ok = request(*c);
        const auto t1 = Clock::now();
        if (ok)
          mine.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        else
          ++errors;
      }
      std::lock_guard<std::mutex> lock(mutex);
      total.latenciesMs.insert(total.latenciesMs.end(), mine.begin(), mine.end());
      total.errors += errors;
    });
  }
  for (auto& thread : threads)
    thread.join();
  total.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpuAfter = cpuSeconds(serverPids);
  if (cpuBefore >= 0 && cpuAfter >= 0)
    total.cpuSeconds = cpuAfter - cpuBefore;
  return total;
}

std::string only;  // when set, the one measurement to make

bool wanted(const char* name) {
  return only.empty() || only == name;
}

struct Figures {
  double rate = 0;
  double cpuUsPerRequest = -1;
};

Figures report(const std::string& name, Result result, const Figures* bare) {
  auto& l = result.latenciesMs;
  std::sort(l.begin(), l.end());
  const auto at = [&](double q) {
    return l.empty() ? 0.0 : l[std::min(l.size() - 1, static_cast<size_t>(q * l.size()))];
  };
  Figures f;
  f.rate = l.size() / result.seconds;
  if (result.cpuSeconds >= 0 && !l.empty())
    f.cpuUsPerRequest = result.cpuSeconds * 1e6 / static_cast<double>(l.size());
  std::printf("%-24s %8zu ok %6ld err %10.1f req/s   p50 %8.2f ms   p99 %8.2f ms", name.c_str(),
              l.size(), result.errors, f.rate, at(0.50), at(0.99));
  if (f.cpuUsPerRequest >= 0)
    std::printf("   cpu %7.1f us/req", f.cpuUsPerRequest);
  if (bare && bare->rate > 0) {
    std::printf("   %.2fx bare", f.rate / bare->rate);
    if (bare->cpuUsPerRequest > 0 && f.cpuUsPerRequest >= 0)
      std::printf(", cpu %.2fx bare", f.cpuUsPerRequest / bare->cpuUsPerRequest);
  }
  std::printf("\n");
  std::fflush(stdout);
  return f;
}

std::unique_ptr<httplib::Client> keepAliveClient(const std::string& host, int port) {
  auto http = std::make_unique<httplib::Client>(host, port);
  http->set_keep_alive(true);
  // Headers and body go out in separate writes: without this, Nagle's
  // algorithm and delayed acknowledgements add 40 ms to every request.
  http->set_tcp_nodelay(true);
  http->set_read_timeout(60, 0);
  return http;
}

// --serve-bare DIR: answers POST /bare/NAME with the bytes of DIR/NAME, read once.
int serveBare(const fs::path& dir, int threads) {
  std::map<std::string, std::string> bodies;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    bodies["/bare/" + entry.path().filename().string()] =
        std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  httplib::Server bare;
  bare.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  bare.set_tcp_nodelay(true);
  bare.set_keep_alive_max_count(1000000);
  bare.Post("/bare/.*", [&bodies](const httplib::Request& req, httplib::Response& res) {
    const auto found = bodies.find(req.path);
    if (found == bodies.end()) {
      res.status = 404;
      return;
    }
    res.set_content(found->second, "application/json; charset=utf-8");
  });
  const int port = bare.bind_to_any_port("127.0.0.1");
  if (port <= 0)
    return 1;
  std::printf("bench-service bare: listening on 127.0.0.1:%d\n", port);
  std::fflush(stdout);
  signal(SIGTERM, [](int) { _exit(0); });
  bare.listen_after_bind();
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  tavsrv::Flags flags;
  flags.define("host", "", "a running service's address (default: start tav-service)");
  flags.define("port", "27800", "the running service's port");
  flags.define("service-bin", TAV_SERVICE_BIN, "the tav-service program to start");
  flags.define("clients", "50", "concurrent clients");
  flags.define("seconds", "3", "length of each measurement");
  flags.define("rounds", "1", "measurements of each, bare and service alternating");
  flags.define("pwhash", "interactive", "password hash strength of the started service");
  flags.define("only", "", "measure only this one (login, findRoomByGlobalId, ...)");
  flags.define("store", "sqlite",
               "the started service's store: sqlite (its data folder) or postgresql (a "
               "server the bench starts)");
  flags.define("nodes", "1", "service processes sharing the store, the clients spread over them");
  flags.define("serve-bare", "", "(internal) serve the bodies in this folder as the bare server");
  flags.define("bare-threads", "64", "(internal) the bare server's threads");
  std::string error;
  if (!flags.parse(argc, argv, &error) || flags.helpRequested()) {
    std::cerr << (error.empty() ? "" : "bench-service: " + error + "\n")
              << flags.usage("bench-service", "Service request rate and latency.");
    return error.empty() ? 0 : 2;
  }
  if (!flags.get("serve-bare").empty()) {
    long long threads = 64;
    flags.getInt("bare-threads", 1, 2000, &threads);
    return serveBare(flags.get("serve-bare"), static_cast<int>(threads));
  }
  long long clientsWanted = 0, seconds = 0, port = 0, nodeCount = 0, rounds = 1;
  if (!flags.getInt("clients", 1, 1000, &clientsWanted) ||
      !flags.getInt("seconds", 1, 600, &seconds) || !flags.getInt("port", 1, 65535, &port) ||
      !flags.getInt("nodes", 1, 16, &nodeCount) || !flags.getInt("rounds", 1, 100, &rounds)) {
    std::cerr << "bench-service: bad --clients, --seconds, --port, --nodes or --rounds\n";
    return 2;
  }
  only = flags.get("only");
  const std::string store = flags.get("store");
  if (store != "sqlite" && store != "postgresql") {
    std::cerr << "bench-service: --store must be sqlite or postgresql\n";
    return 2;
  }

  std::string host = flags.get("host");
  std::string pattern = (fs::temp_directory_path() / "tavbenchXXXXXX").string();
  const fs::path dir = mkdtemp(pattern.data());
  std::vector<int> ports{static_cast<int>(port)};
  std::vector<std::unique_ptr<Child>> services;
  std::vector<pid_t> serverPids;
#ifdef TAV_BENCH_POSTGRES
  std::unique_ptr<testsupport::ScratchPostgres> postgres;
#endif
  if (host.empty()) {
    std::vector<std::string> args{
        "tav-service", "--data",   (dir / "data").string(), "--port",
        "0",           "--pwhash", flags.get("pwhash"),     "--no-demo-videos"};
    if (store == "postgresql") {
#ifdef TAV_BENCH_POSTGRES
      testsupport::ScratchPostgres::Options options;
      options.durable = true;
      postgres = std::make_unique<testsupport::ScratchPostgres>(options);
      const std::string database = postgres->ok() ? postgres->createDatabase() : "";
      if (database.empty()) {
        std::cerr << "bench-service: no PostgreSQL server: " << postgres->why() << "\n";
        return 77;  // not measured here
      }
      args.insert(args.end(), {"--database", database});
#else
      std::cerr << "bench-service: built without the PostgreSQL helper (tests off)\n";
      return 77;
#endif
    }
    ports.clear();
    for (long long i = 0; i < nodeCount; ++i) {
      services.push_back(std::make_unique<Child>(flags.get("service-bin"), args));
      if (services.back()->port() <= 0) {
        std::cerr << "bench-service: " << flags.get("service-bin") << " did not start\n";
        return 1;
      }
      ports.push_back(services.back()->port());
      serverPids.push_back(services.back()->pid());
    }
#ifdef TAV_BENCH_POSTGRES
    if (postgres)
      for (pid_t pid : withChildren(postgres->pid()))
        serverPids.push_back(pid);
#endif
    host = "127.0.0.1";
    port = ports.front();
  }
  std::printf(
      "bench-service: %s:%lld (%zu node%s, %s store), %lld clients, %lld s per measurement, "
      "hardware threads %u\n",
      host.c_str(), port, ports.size(), ports.size() == 1 ? "" : "s", store.c_str(), clientsWanted,
      seconds, std::thread::hardware_concurrency());

  std::vector<Client> clients(static_cast<size_t>(clientsWanted));
  // Logs every client in (again: a user keeps only its newest tickets, so the
  // login measurement retires the earlier ones).
  const auto logInAll = [&]() -> bool {
    for (size_t i = 0; i < clients.size(); ++i) {
      const std::string account = kAccounts[i % (sizeof kAccounts / sizeof kAccounts[0])];
      const json login = post(*clients[i].http, "aas/service/user/login",
                              "userName=" + account + "&userPwd=123456", "");
      if (!login.is_object() || login["code"] != 0) {
        std::cerr << "bench-service: cannot log in as " << account
                  << " (seeded demo data needed)\n";
        return false;
      }
      clients[i].userId = login["body"]["globalId"];
      clients[i].ticket = login["body"]["ticketId"];
    }
    return true;
  };
  for (size_t i = 0; i < clients.size(); ++i)
    clients[i].http = keepAliveClient(host, ports[i % ports.size()]);
  if (!logInAll())
    return 1;
  for (auto& c : clients)
    post(*c.http, "rms/service/room/userJoinRoom",
         "roomId=1001&globalId=" + std::to_string(c.userId), c.ticket);

  // What each measurement asks (as the first client), and the bare server
  // answering those very bodies.
  struct Measurement {
    const char* name;
    std::function<std::pair<std::string, std::string>(const Client&)> request;  // path, body
    std::function<bool(const json&)> ok;
  };
  const std::vector<Measurement> measurements = {
      {"login",
       [](const Client& c) {
         static const char* names[] = {"student1", "student2", "student3", "student4"};
         return std::make_pair(std::string("aas/service/user/login"),
                               std::string("userName=") + names[c.userId % 4] + "&userPwd=123456");
       },
       [](const json& a) { return a.is_object() && a["code"] == 0; }},
      {"findRoomByGlobalId",
       [](const Client&) {
         return std::make_pair(std::string("rms/service/room/findRoomByGlobalId"),
                               std::string("globalId=10001"));
       },
       [](const json& a) { return a.is_object() && a["code"] == 0 && a["body"].size() >= 7; }},
      {"heartbeat",
       [](const Client& c) {
         return std::make_pair(std::string("rms/service/room/heartbeat"),
                               "globalId=" + std::to_string(c.userId) + "&roomId=1001&type=2");
       },
       [](const json& a) { return a.is_object() && a["code"] == 0; }},
      {"findRoomOnlineUser",
       [](const Client& c) {
         return std::make_pair(std::string("rms/service/room/findRoomOnlineUser"),
                               "roomId=1001&globalId=" + std::to_string(c.userId));
       },
       [](const json& a) { return a.is_object() && a["code"] == 0; }},
      {"findRoomUserTypeById",
       [](const Client&) {
         return std::make_pair(std::string("rms/service/room/findRoomUserTypeById"),
                               std::string("roomId=1001&globalId=10001"));
       },
       [](const json& a) { return a.is_object() && a["code"] == 0; }},
  };
  const fs::path bodies = dir / "bare";
  fs::create_directories(bodies);
  for (const auto& m : measurements) {
    const auto [path, body] = m.request(clients[0]);
    std::string raw;
    post(*clients[0].http, path, body, m.name == std::string("login") ? "" : clients[0].ticket,
         &raw);
    std::ofstream(bodies / m.name, std::ios::binary) << raw;
  }
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  Child bare(self, {"bench-service", "--serve-bare", bodies.string(), "--bare-threads",
                    std::to_string(clients.size() + 8)});
  if (bare.port() <= 0) {
    std::cerr << "bench-service: the bare server did not start\n";
    return 1;
  }
  // The yardstick's connections live for its own measurement only: cpp-httplib
  // keeps a thread per open connection that wakes every few milliseconds, which
  // would take a tenth of a core from the service measured next.
  std::vector<Client> bareClients(clients.size());
  auto connectBare = [&] {
    for (size_t i = 0; i < clients.size(); ++i) {
      bareClients[i].http = keepAliveClient("127.0.0.1", bare.port());
      bareClients[i].userId = clients[i].userId;
    }
  };

  const double duration = static_cast<double>(seconds);
  bool measured = true;  // every measurement got answers
  for (const auto& m : measurements) {
    if (!wanted(m.name))
      continue;
    const std::string barePath = std::string("bare/") + m.name;
    const bool login = m.name == std::string("login");
    // Rounds alternate the two, so a slow spell of the machine weighs on both.
    std::vector<double> ratios;
    for (long long round = 1; round <= rounds; ++round) {
      const std::string suffix = rounds > 1 ? " #" + std::to_string(round) : std::string();
      connectBare();
      const Figures bareFigures = report(
          std::string("bare ") + m.name + suffix,
          run(bareClients, duration, {bare.pid()},
              [&](Client& c) { return m.ok(post(*c.http, barePath, m.request(c).second, "")); }),
          nullptr);
      for (Client& c : bareClients)
        c.http.reset();
      const Figures figures =
          report(m.name + suffix,
                 run(clients, duration, serverPids,
                     [&](Client& c) {
                       const auto [path, body] = m.request(c);
                       return m.ok(post(*c.http, path, body, login ? "" : c.ticket));
                     }),
                 &bareFigures);
      if (figures.rate <= 0 || bareFigures.rate <= 0) {
        std::fprintf(stderr, "bench-service: %s got no answer\n", m.name);
        measured = false;
      } else {
        ratios.push_back(figures.rate / bareFigures.rate);
      }
      if (login && !logInAll())
        return 1;
    }
    if (ratios.size() > 1) {
      std::sort(ratios.begin(), ratios.end());
      std::printf("%-24s median %.2fx bare over %zu rounds (%.2fx .. %.2fx)\n", m.name,
                  ratios[ratios.size() / 2], ratios.size(), ratios.front(), ratios.back());
      std::fflush(stdout);
    }
  }

  bareClients.clear();
  clients.clear();
  services.clear();
  std::error_code ec;
  fs::remove_all(dir, ec);
  return measured ? 0 : 1;
}

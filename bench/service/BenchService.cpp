// Measures the service: requests per second and p50/p99 latency of login, the
// room list (findRoomByGlobalId), the presence heartbeat and the member lookups,
// each with N concurrent keep-alive clients for a fixed time. Starts its own
// service on a temporary store unless --host/--port name a running one (seeded
// demo data). For scale, the same clients first measure a bare cpp-httplib
// server in this process answering a fixed body of the room list's size; each
// service figure is followed by its ratio to that.
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

#include "service/Service.h"
#include "tavsrv/Answer.h"
#include "tavsrv/Flags.h"
#include "tavsrv/Log.h"

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
};

json post(httplib::Client& http, const std::string& path, const std::string& body,
          const std::string& ticket) {
  httplib::Headers headers;
  if (!ticket.empty())
    headers.emplace("X-Tav-Ticket", ticket);
  auto res = http.Post(("/" + path).c_str(), headers, body, "application/x-www-form-urlencoded");
  if (!res || res->status != 200)
    return nullptr;
  return json::parse(tavsrv::unnest(res->body), nullptr, false);
}

// Runs request(client) on every client in its own thread for `seconds`.
template <class Request>
Result run(std::vector<Client>& clients, double seconds, Request request) {
  Result total;
  std::mutex mutex;
  std::vector<std::thread> threads;
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
  return total;
}

double bareRate = 0;  // requests per second of the bare server
std::string only;     // when set, the one measurement to make

bool wanted(const char* name) {
  return only.empty() || only == name;
}

double report(const char* name, Result result) {
  auto& l = result.latenciesMs;
  std::sort(l.begin(), l.end());
  const auto at = [&](double q) {
    return l.empty() ? 0.0 : l[std::min(l.size() - 1, static_cast<size_t>(q * l.size()))];
  };
  const double rate = l.size() / result.seconds;
  std::printf("%-20s %8zu ok %6ld err %10.1f req/s   p50 %8.2f ms   p99 %8.2f ms", name, l.size(),
              result.errors, rate, at(0.50), at(0.99));
  if (bareRate > 0)
    std::printf("   %.2fx bare", rate / bareRate);
  std::printf("\n");
  std::fflush(stdout);
  return rate;
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
}  // namespace

int main(int argc, char** argv) {
  tavsrv::Flags flags;
  flags.define("host", "", "a running service's address (default: start one in-process)");
  flags.define("port", "27800", "the running service's port");
  flags.define("clients", "50", "concurrent clients");
  flags.define("seconds", "3", "length of each measurement");
  flags.define("pwhash", "interactive", "password hash strength of the in-process service");
  flags.define("only", "", "measure only this one (bare, login, findRoomByGlobalId, ...)");
  std::string error;
  if (!flags.parse(argc, argv, &error) || flags.helpRequested()) {
    std::cerr << (error.empty() ? "" : "bench-service: " + error + "\n")
              << flags.usage("bench-service", "Service request rate and latency.");
    return error.empty() ? 0 : 2;
  }
  long long clientsWanted = 0, seconds = 0, port = 0;
  if (!flags.getInt("clients", 1, 1000, &clientsWanted) ||
      !flags.getInt("seconds", 1, 600, &seconds) || !flags.getInt("port", 1, 65535, &port)) {
    std::cerr << "bench-service: bad --clients, --seconds or --port\n";
    return 2;
  }
  tavsrv::setLogLevel(tavsrv::LogLevel::Warn);
  only = flags.get("only");

  std::string host = flags.get("host");
  std::unique_ptr<tavsvc::Service> service;
  fs::path dir;
  if (host.empty()) {
    std::string pattern = (fs::temp_directory_path() / "tavbenchXXXXXX").string();
    dir = mkdtemp(pattern.data());
    tavsvc::ServiceConfig config;
    config.port = 0;
    config.dataDir = (dir / "data").string();
    config.demoVideos = false;
    config.passwordStrength = flags.get("pwhash") == "min" ? tavsvc::PasswordStrength::Minimum
                                                           : tavsvc::PasswordStrength::Interactive;
    service = std::make_unique<tavsvc::Service>(config);
    if (!service->start(&error)) {
      std::cerr << "bench-service: " << error << "\n";
      return 1;
    }
    host = "127.0.0.1";
    port = service->port();
  }
  std::printf("bench-service: %s:%lld, %lld clients, %lld s per measurement, hardware threads %u\n",
              host.c_str(), port, clientsWanted, seconds, std::thread::hardware_concurrency());

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
    clients[i].http = keepAliveClient(host, static_cast<int>(port));
  if (!logInAll())
    return 1;
  const double duration = static_cast<double>(seconds);

  if (wanted("bare")) {
    // The yardstick: a fixed answer of the room list's size from a bare server.
    const json rooms = post(*clients[0].http, "rms/service/room/findRoomByGlobalId",
                            "globalId=10001", clients[0].ticket);
    const std::string fixed = rooms.dump();
    httplib::Server bare;
    bare.new_task_queue = [n = clients.size()] { return new httplib::ThreadPool(n + 8); };
    bare.set_tcp_nodelay(true);
    bare.set_keep_alive_max_count(1000000);
    bare.Post("/bare", [&fixed](const httplib::Request&, httplib::Response& res) {
      res.set_content(fixed, "application/json; charset=utf-8");
    });
    const int barePort = bare.bind_to_any_port("127.0.0.1");
    std::thread bareThread([&bare] { bare.listen_after_bind(); });
    while (!bare.is_running())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<Client> bareClients(clients.size());
    for (auto& c : bareClients)
      c.http = keepAliveClient("127.0.0.1", barePort);
    bareRate = report("bare server", run(bareClients, duration, [](Client& c) {
                        const json a = post(*c.http, "bare", "globalId=10001", "");
                        return a.is_object() && a["code"] == 0;
                      }));
    bareClients.clear();
    bare.stop();
    bareThread.join();
  }

  if (wanted("login"))
    report("login", run(clients, duration, [](Client& c) {
             static const char* names[] = {"student1", "student2", "student3", "student4"};
             const json a =
                 post(*c.http, "aas/service/user/login",
                      std::string("userName=") + names[c.userId % 4] + "&userPwd=123456", "");
             return a.is_object() && a["code"] == 0;
           }));
  if (!logInAll())
    return 1;
  if (wanted("findRoomByGlobalId"))
    report("findRoomByGlobalId", run(clients, duration, [](Client& c) {
             const json a =
                 post(*c.http, "rms/service/room/findRoomByGlobalId", "globalId=10001", c.ticket);
             return a.is_object() && a["code"] == 0 && a["body"].size() >= 7;
           }));
  for (auto& c : clients) {
    post(*c.http, "rms/service/room/userJoinRoom",
         "roomId=1001&globalId=" + std::to_string(c.userId), c.ticket);
  }
  if (wanted("heartbeat"))
    report("heartbeat", run(clients, duration, [](Client& c) {
             const json a =
                 post(*c.http, "rms/service/room/heartbeat",
                      "globalId=" + std::to_string(c.userId) + "&roomId=1001&type=2", c.ticket);
             return a.is_object() && a["code"] == 0;
           }));
  if (wanted("findRoomOnlineUser"))
    report("findRoomOnlineUser", run(clients, duration, [](Client& c) {
             const json a = post(*c.http, "rms/service/room/findRoomOnlineUser",
                                 "roomId=1001&globalId=" + std::to_string(c.userId), c.ticket);
             return a.is_object() && a["code"] == 0;
           }));
  if (wanted("findRoomUserTypeById"))
    report("findRoomUserTypeById", run(clients, duration, [](Client& c) {
             const json a = post(*c.http, "rms/service/room/findRoomUserTypeById",
                                 "roomId=1001&globalId=10001", c.ticket);
             return a.is_object() && a["code"] == 0;
           }));

  clients.clear();
  if (service)
    service->stop();
  if (!dir.empty())
    fs::remove_all(dir);
  return 0;
}

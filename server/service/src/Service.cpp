#include "service/Service.h"

#include <httplib.h>
#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <thread>

#include "Context.h"
#include "DemoVideos.h"
#include "HttpFront.h"
#include "Routes.h"
#include "Schema.h"
#include "Seed.h"
#include "tavsrv/Log.h"
#include "tavsrv/Random.h"
#include "tavsrv/Removals.h"

namespace fs = std::filesystem;

namespace tavsvc {

namespace {

// cpp-httplib's routing and request parsing, fed one request at a time by the front.
class RoutingServer : public httplib::Server {
public:
  // cpp-httplib ends streamed answers (files) early when it believes its own
  // listening socket is gone; it never listens here, so it is told one is open.
  RoutingServer() { svr_sock_ = std::numeric_limits<int>::max(); }
  bool answerOne(httplib::Stream& stream, bool closeAfter, bool& clientClosed) {
    return process_request(stream, closeAfter, clientClosed, nullptr);
  }
};

constexpr const char* kLoginPath = "/aas/service/user/login";
constexpr const char* kRegisterPage = "/tavolin/views/register.html";

// Nodes sharing a store must sign credentials with the same internal token, or
// the message server and the MCU refuse the credentials of some of them. The
// store keeps a fingerprint of the token the last node started with (never the
// token), and a node starting with another one says so.
void noteSigningKey(tavsrv::Connection& db, const std::string& token) {
  if (token.empty())
    return;
  unsigned char hash[16];
  crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(token.data()),
                     token.size(), reinterpret_cast<const unsigned char*>("tav-store-key"), 13);
  char hex[2 * sizeof hash + 1];
  sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
  const auto known = db.queryText("SELECT value FROM store_keys WHERE name = 'internal-token'");
  if (known && *known == hex)
    return;
  if (known)
    tavsrv::logWarn(
        "this node's --internal-token differs from the one the store's nodes last started with "
        "(a rotated key?): nodes still running with the other one issue credentials the servers "
        "of this one refuse");
  db.run(
      "INSERT INTO store_keys(name, value) VALUES('internal-token', ?1) "
      "ON CONFLICT(name) DO UPDATE SET value = ?1",
      std::string(hex));
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

Lane laneOf(const std::string& method, const std::string& path) {
  if (method == "POST" && (path == kLoginPath || path == kRegisterPage))
    return Lane::Login;  // hashes a password
  // The removals question of the message server and the MCU may wait for a change: it
  // must not hold a thread of the ordinary calls.
  if (path == tavsrv::kRemovalsPath)
    return Lane::Transfer;
  if (startsWith(path, "/uds/upload") || (method == "GET" && startsWith(path, "/download/")))
    return Lane::Transfer;
  return Lane::Call;
}

}  // namespace

struct Service::Impl {
  Context ctx;
  RoutingServer server;
  std::unique_ptr<Router> router;
  std::unique_ptr<HttpFront> front;
  DemoVideos videos;
  bool running = false;

  bool openStore(std::string* error);
  void configureServer();
};

Service::Service(ServiceConfig config) : impl_(std::make_unique<Impl>()) {
  impl_->ctx.config = std::move(config);
}

Service::~Service() {
  stop();
}

int Service::port() const {
  return impl_->ctx.self.port;
}

std::string storeLocation(const ServiceConfig& config) {
  if (!config.database.empty())
    return config.database;
  return (fs::path(config.dataDir) / "service.db").string();
}

const ServiceConfig& Service::config() const {
  return impl_->ctx.config;
}

std::vector<std::string> Service::demoAccountLines() {
  std::vector<std::string> lines;
  for (const auto& account : demoAccounts())
    if (account.what[0] != '\0')
      lines.push_back(account.what);
  lines.push_back(std::string("every demo account's password: ") + kDemoPassword);
  return lines;
}

bool Service::Impl::openStore(std::string* error) {
  const ServiceConfig& config = ctx.config;
  std::error_code ec;
  ctx.uploadsDir = (fs::path(config.dataDir) / "uploads").string();
  ctx.downloadsDir = (fs::path(config.dataDir) / "download").string();
  for (const auto& dir : {config.dataDir, ctx.uploadsDir, ctx.downloadsDir}) {
    fs::create_directories(dir, ec);
    if (ec) {
      *error = "cannot create " + dir + ": " + ec.message();
      return false;
    }
  }
  ctx.uploadsDir = fs::canonical(ctx.uploadsDir).string();
  ctx.downloadsDir = fs::canonical(ctx.downloadsDir).string();
  try {
    const std::string location = storeLocation(config);
    ctx.pool = std::make_unique<tavsrv::ConnectionPool>(location, config.dbConnections);
    auto lease = ctx.pool->acquire();
    ensureSchema(*lease);
    noteSigningKey(*lease, config.internalToken);
    if (config.seedDemo && storeIsEmpty(*lease) &&
        seedDemoData(*lease, *ctx.hasher, ctx.uploadsDir, ctx.now())) {
      tavsrv::logInfo("seeded demo data into " + tavsrv::describeLocation(location));
      if (config.demoVideos)
        videos.start(ctx.uploadsDir, demoVideoPaths());
    }
  } catch (const std::exception& e) {
    *error = std::string("store: ") + e.what();
    return false;
  }
  return true;
}

int callThreadsFor(const ServiceConfig& config) {
  if (config.threads > 0)
    return config.threads;
  const int processors = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return tavsrv::isPostgresUrl(config.database) ? std::max(8, 4 * processors)
                                                 : std::max(4, 2 * processors);
}

void Service::Impl::configureServer() {
  const ServiceConfig& config = ctx.config;
  // Connections, time-outs and threads are the front's; these only shape the answers.
  server.set_payload_max_length(config.uploadLimit + (1 << 20));
  server.set_keep_alive_max_count(1000);
  server.set_keep_alive_timeout(config.idleTimeoutMs / 1000);

  // Only uploads may be large: refuse any other big body before it is read.
  const size_t formLimit = config.formLimit;
  const auto observer = config.requestObserver;
  server.set_pre_routing_handler(
      [formLimit, observer](const httplib::Request& req, httplib::Response& res) {
        if (observer)
          observer(req.method, req.path);
        if (req.path == "/uds/upload")
          return httplib::Server::HandlerResponse::Unhandled;
        const bool chunked =
            req.get_header_value("Transfer-Encoding").find("chunked") != std::string::npos;
        const auto length = req.get_header_value<uint64_t>("Content-Length");
        if (length > formLimit || chunked) {
          tavsrv::sendJson(res, tavsrv::refusal(tavsrv::code::kTooLarge, "请求内容过大！"), 413);
          return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
      });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty())
      return;
    if (res.status == 404)
      tavsrv::sendJson(res, tavsrv::refusal(tavsrv::code::kNotFound, "接口不存在！"), 404);
    else if (res.status == 413)
      tavsrv::sendJson(res, tavsrv::refusal(tavsrv::code::kTooLarge, "请求内容过大！"), 413);
    else if (res.status >= 400)
      tavsrv::sendJson(res, tavsrv::refusal(res.status, "请求无效！"), res.status);
  });
  server.set_exception_handler(
      [](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
        tavsrv::logError("unhandled exception on " + req.path);
        tavsrv::sendJson(res, tavsrv::refusal(tavsrv::code::kInternal, "服务器内部错误！"), 500);
      });

  router = std::make_unique<Router>(server, ctx);
  addAccountRoutes(*router);
  addRoomRoutes(*router);
  addModerationRoutes(*router);
  addGiftRoutes(*router);
  addChatRoutes(*router);
  addSharingRoutes(*router);
  addCoursewareRoutes(*router);
  addNoticeRoutes(*router);
  addFileRoutes(*router);
  addWebPages(*router);
  router->finish();
}

bool Service::start(std::string* error) {
  Impl& d = *impl_;
  if (d.running)
    return true;
  if (!tavsrv::initCrypto()) {
    *error = "libsodium cannot be initialised";
    return false;
  }
  if (!d.ctx.clock)
    d.ctx.clock = d.ctx.config.clock ? d.ctx.config.clock : std::make_shared<tavsrv::SystemClock>();
  d.ctx.hasher =
      std::make_unique<PasswordHasher>(d.ctx.config.passwordStrength, d.ctx.config.hashThreads);
  if (!d.openStore(error))
    return false;
  d.configureServer();
  if (d.ctx.config.msgServers.size() > 1)
    d.ctx.msgServers = std::make_unique<MsgServerChoice>(d.ctx.config.msgServers);

  const ServiceConfig& config = d.ctx.config;
  FrontOptions front;
  front.host = config.host;
  front.port = config.port;
  front.maxConnections = config.maxConnections;
  front.connectionsPerAddress = config.connectionsPerAddress;
  front.trustedProxies = config.trustedProxies;
  front.idleTimeoutMs = config.idleTimeoutMs;
  front.headTimeoutMs = config.headTimeoutMs;
  front.maxBufferedBody = config.formLimit;
  front.callThreads = callThreadsFor(config);
  front.loginThreads = config.hashThreads;
  front.busyBody = tavsrv::dumpJson(tavsrv::refusal(503, "服务器繁忙，请稍后重试！"));
  front.loginBusyBody = tavsrv::dumpJson(tavsrv::refusal(503, "登录的人太多，请稍后再试！"));
  d.front = std::make_unique<HttpFront>(
      front,
      [&d](httplib::Stream& stream, bool closeAfter, bool& clientClosed) {
        return d.server.answerOne(stream, closeAfter, clientClosed);
      },
      laneOf);
  if (!d.front->start(error))
    return false;
  std::vector<std::pair<tavsrv::HostPort, NodeHealth::Probe>> watched;
  for (const auto& [nodes, probe] : {std::make_pair(&config.mcus, NodeHealth::Probe::Kcp),
                                     std::make_pair(&config.convertServers, NodeHealth::Probe::Tcp),
                                     std::make_pair(&config.videoServers, NodeHealth::Probe::Tcp)})
    if (nodes->size() > 1)
      for (const tavsrv::HostPort& node : *nodes)
        watched.emplace_back(node, probe);
  NodeHealth::Options health;
  health.intervalMs = config.healthIntervalMs;
  health.timeoutMs = std::min(1000, config.healthIntervalMs);
  d.ctx.health.start(watched, health);
  d.ctx.self = tavsrv::HostPort{config.host, d.front->port()};
  d.running = true;
  tavsrv::logInfo("service listening on " + d.ctx.self.str() + ", store " +
                  tavsrv::describeLocation(storeLocation(config)) + ", files in " + config.dataDir);
  return true;
}

void Service::stop() {
  Impl& d = *impl_;
  if (!d.running)
    return;
  d.ctx.removals.shutdown();  // held removal questions answer now
  d.ctx.health.stop();
  d.front->stop();
  d.videos.wait();
  d.running = false;
  tavsrv::logInfo("service stopped");
}

}  // namespace tavsvc

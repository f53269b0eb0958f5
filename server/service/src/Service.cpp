#include "service/Service.h"

#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "Context.h"
#include "DemoVideos.h"
#include "Routes.h"
#include "Schema.h"
#include "Seed.h"
#include "tavsrv/Log.h"
#include "tavsrv/Random.h"

namespace fs = std::filesystem;

namespace tavsvc {

struct Service::Impl {
  Context ctx;
  httplib::Server server;
  std::thread thread;
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
    const std::string path = (fs::path(config.dataDir) / "service.db").string();
    ctx.pool = std::make_unique<tavsrv::ConnectionPool>(path, config.dbConnections);
    auto lease = ctx.pool->acquire();
    ensureSchema(*lease);
    if (config.seedDemo && storeIsEmpty(*lease)) {
      tavsrv::logInfo("seeding demo data into " + path);
      seedDemoData(*lease, *ctx.hasher, ctx.uploadsDir, ctx.now());
      if (config.demoVideos)
        videos.start(ctx.uploadsDir, demoVideoPaths());
    }
  } catch (const std::exception& e) {
    *error = std::string("store: ") + e.what();
    return false;
  }
  return true;
}

void Service::Impl::configureServer() {
  const ServiceConfig& config = ctx.config;
  const int threads = config.threads < 2 ? 2 : config.threads;
  server.new_task_queue = [threads] {
    return new httplib::ThreadPool(static_cast<size_t>(threads));
  };
  server.set_payload_max_length(config.uploadLimit + (1 << 20));
  server.set_read_timeout(20, 0);
  server.set_write_timeout(20, 0);
  server.set_keep_alive_max_count(1000);
  server.set_keep_alive_timeout(10);
  server.set_tcp_nodelay(true);

  // Only uploads may be large: refuse any other big body before it is read.
  const size_t formLimit = config.formLimit;
  server.set_pre_routing_handler([formLimit](const httplib::Request& req, httplib::Response& res) {
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

  Router router(server, ctx);
  addAccountRoutes(router);
  addRoomRoutes(router);
  addModerationRoutes(router);
  addGiftRoutes(router);
  addChatRoutes(router);
  addSharingRoutes(router);
  addCoursewareRoutes(router);
  addNoticeRoutes(router);
  addFileRoutes(router);
  addWebPages(router);
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

  const ServiceConfig& config = d.ctx.config;
  int port = config.port;
  if (port == 0) {
    port = d.server.bind_to_any_port(config.host);
    if (port <= 0)
      port = -1;
  } else if (!d.server.bind_to_port(config.host, port)) {
    port = -1;
  }
  if (port < 0) {
    *error = "cannot listen on " + config.host + ":" + std::to_string(config.port);
    return false;
  }
  d.ctx.self = tavsrv::HostPort{config.host, port};
  d.thread = std::thread([&d] { d.server.listen_after_bind(); });
  // stop() only reaches a server that is already in its accept loop.
  while (!d.server.is_running())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  d.running = true;
  tavsrv::logInfo("service listening on " + d.ctx.self.str() + ", data in " + config.dataDir);
  return true;
}

void Service::stop() {
  Impl& d = *impl_;
  if (!d.running)
    return;
  d.server.stop();
  if (d.thread.joinable())
    d.thread.join();
  d.videos.wait();
  d.running = false;
  tavsrv::logInfo("service stopped");
}

}  // namespace tavsvc

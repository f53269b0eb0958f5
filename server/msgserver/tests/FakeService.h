// Stand-in for the service's internal chat endpoint: records what arrives,
// answers like the service (refusing chosen senders) or passes each request on
// to a real service, and can hold requests until released.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TestCredentials.h"
#include "eventually.h"

namespace msgtest {

struct ChatPost {
  std::map<std::string, std::string> form;
  std::string token;
  std::string content_type;
};

class FakeService {
public:
  explicit FakeService(std::string token = testsupport::kTestSecret) : token_(std::move(token)) {
    server_.Post("/internal/chatRecord/add",
                 [this](const httplib::Request& req, httplib::Response& res) {
                   ChatPost post;
                   for (const auto& p : req.params)
                     post.form[p.first] = p.second;
                   post.token = req.get_header_value("X-Tav-Internal-Token");
                   post.content_type = req.get_header_value("Content-Type");
                   std::unique_lock<std::mutex> lock(mutex_);
                   ++entered_;
                   changed_.notify_all();
                   changed_.wait(lock, [this] { return !held_; });
                   if (!forward_to_.empty()) {
                     httplib::Client service(forward_to_);
                     lock.unlock();
                     const auto answer =
                         service.Post(req.path, {{"X-Tav-Internal-Token", post.token}}, req.params);
                     res.status = answer ? answer->status : 502;
                     res.set_content(answer ? answer->body : std::string(), "application/json");
                     lock.lock();
                     posts_.push_back(std::move(post));
                     changed_.notify_all();
                     return;
                   }
                   const bool ok = post.token == token_;
                   const bool refused = refused_users_.count(post.form["userId"]) > 0;
                   posts_.push_back(std::move(post));
                   changed_.notify_all();
                   res.set_content(!ok       ? R"({"code":1,"msg":"bad token","body":{}})"
                                   : refused ? R"({"code":403,"msg":"muted","body":{}})"
                                             : R"({"code":0,"msg":"","body":{"id":1}})",
                                   "application/json");
                 });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() is lost on a server that has not entered its loop yet.
    const auto deadline = std::chrono::steady_clock::now() + testsupport::wait_limit();
    while (!server_.is_running() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~FakeService() {
    release();
    server_.stop();
    thread_.join();
  }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // From now on every request goes on to the service at url, which answers it.
  void forward_to(std::string url) {
    std::lock_guard<std::mutex> lock(mutex_);
    forward_to_ = std::move(url);
  }

  // The chat of this user is refused from now on, as the service refuses a muted member's.
  void refuse_user(std::uint32_t user) {
    std::lock_guard<std::mutex> lock(mutex_);
    refused_users_.insert(std::to_string(user));
  }

  void hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = true;
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;
    changed_.notify_all();
  }

  // Waits until at least n requests have arrived (entered) or were answered (posts).
  bool wait_entered(std::size_t n) {
    return wait([&] { return entered_ >= n; });
  }
  bool wait_posts(std::size_t n) {
    return wait([&] { return posts_.size() >= n; });
  }

  std::vector<ChatPost> posts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posts_;
  }

private:
  template <class Pred>
  bool wait(Pred pred) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, testsupport::wait_limit(), pred);
  }

  const std::string token_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  std::size_t entered_ = 0;
  std::vector<ChatPost> posts_;
  std::set<std::string> refused_users_;
  std::string forward_to_;
};

}  // namespace msgtest

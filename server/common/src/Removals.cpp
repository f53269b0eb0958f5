#include "tavsrv/Removals.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>

#include "tavsrv/Log.h"

namespace tavsrv {

namespace {
// How long the service may hold a question open: short, so that stop() ends in time (the
// service answers at once when the list changes, whatever the wait).
constexpr const char* kWaitMs = "1000";
constexpr int kReadTimeoutS = 10;
constexpr auto kRetryAfter = std::chrono::seconds(1);
// More than any school sends; a longer list is read up to here.
constexpr std::size_t kMaxRemovals = 100000;
}  // namespace

int64_t steadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void RemovalList::replace(const std::vector<Removal>& removals, int64_t nowMs) {
  std::map<std::pair<uint32_t, uint32_t>, int64_t> until;
  for (const Removal& r : removals)
    if (r.leftMs > 0)
      until[{r.room, r.user}] = nowMs + r.leftMs;
  std::lock_guard<std::mutex> lock(mutex_);
  until_.swap(until);
}

bool RemovalList::removed(uint32_t room, uint32_t user, int64_t nowMs) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = until_.find({room, user});
  return found != until_.end() && nowMs < found->second;
}

std::size_t RemovalList::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return until_.size();
}

RemovalWatcher::RemovalWatcher(std::string serviceUrl, std::string token, Listener listener)
    : url_(std::move(serviceUrl)), token_(std::move(token)), listener_(std::move(listener)) {}

RemovalWatcher::~RemovalWatcher() {
  stop();
}

bool RemovalWatcher::start(std::string* error) {
  const auto scheme = url_.find("://");
  const auto path = scheme == std::string::npos ? scheme : url_.find('/', scheme + 3);
  if (scheme == std::string::npos || url_.compare(0, scheme, "http") != 0 ||
      url_.size() == scheme + 3 || path == scheme + 3) {
    *error = "bad service url '" + url_ + "'";
    return false;
  }
  base_ = url_.substr(0, path);
  prefix_ = path == std::string::npos ? std::string() : url_.substr(path);
  while (!prefix_.empty() && prefix_.back() == '/')
    prefix_.pop_back();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void RemovalWatcher::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable())
    thread_.join();
}

uint64_t RemovalWatcher::answers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return answers_;
}

std::string RemovalWatcher::version() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return version_;
}

void RemovalWatcher::run() {
  std::string version;  // empty: the first question is answered at once
  bool failing = false;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_)
        return;
    }
    httplib::Client client(base_);
    client.set_connection_timeout(2, 0);
    client.set_read_timeout(kReadTimeoutS, 0);
    client.set_write_timeout(5, 0);
    const httplib::Params params{{"version", version}, {"waitMs", kWaitMs}};
    const auto result =
        client.Post(prefix_ + kRemovalsPath, {{"X-Tav-Internal-Token", token_}}, params);
    auto answer = result && result->status == 200
                      ? nlohmann::json::parse(result->body, nullptr, false)
                      : nlohmann::json();
    nlohmann::json* body = answer.is_object() && answer["code"] == 0 && answer["body"].is_object()
                               ? &answer["body"]
                               : nullptr;
    if (!body || !(*body)["version"].is_string() || !(*body)["removals"].is_array()) {
      if (!failing)
        logWarn("removals: no list from " + url_ + " (" +
                (result
                     ? "HTTP " + std::to_string(result->status) + " " + result->body.substr(0, 120)
                     : httplib::to_string(result.error())) +
                "); asking again every second");
      failing = true;
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_for(lock, kRetryAfter, [this] { return stopping_; });
      continue;
    }
    if (failing)
      logInfo("removals: the list from " + url_ + " arrives again");
    failing = false;
    const std::string next = (*body)["version"].get<std::string>();
    if (next == version)
      continue;  // held open and nothing changed
    std::vector<Removal> removals;
    for (auto& entry : (*body)["removals"]) {
      if (removals.size() == kMaxRemovals)
        break;
      if (!entry.is_object() || !entry["roomId"].is_number_unsigned() ||
          !entry["userId"].is_number_unsigned() || !entry["leftMs"].is_number_integer())
        continue;
      removals.push_back(Removal{entry["roomId"].get<uint32_t>(), entry["userId"].get<uint32_t>(),
                                 entry["leftMs"].get<int64_t>()});
    }
    version = next;
    listener_(removals);
    std::lock_guard<std::mutex> lock(mutex_);
    version_ = next;
    ++answers_;
  }
}

}  // namespace tavsrv

#include "ChatForwarder.h"
#include "tavsrv/ChatHandoff.h"
#include "tavsrv/Log.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace msgserver {

std::optional<ServiceUrl> parse_service_url(std::string_view url) {
  const auto scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos)
    return std::nullopt;
  const std::string_view scheme = url.substr(0, scheme_end);
  if (scheme != "http" && scheme != "https")
    return std::nullopt;
  const auto path_start = url.find('/', scheme_end + 3);
  ServiceUrl result;
  result.scheme_host_port = std::string(url.substr(0, path_start));
  if (result.scheme_host_port.size() == scheme_end + 3)
    return std::nullopt;  // no host
  if (path_start != std::string_view::npos) {
    std::string_view path = url.substr(path_start);
    while (!path.empty() && path.back() == '/')
      path.remove_suffix(1);
    result.path_prefix = std::string(path);
  }
  return result;
}

ChatForwarder::ChatForwarder(ServiceUrl service, std::string token, std::size_t queue_limit)
    : service_(std::move(service)), token_(std::move(token)), queue_limit_(queue_limit) {}

ChatForwarder::~ChatForwarder() {
  stop();
}

void ChatForwarder::start() {
  thread_ = std::thread([this] { run(); });
}

void ChatForwarder::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable())
    thread_.join();
}

bool ChatForwarder::submit(ChatRecord record) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopping_ && queue_.size() < queue_limit_) {
      queue_.push_back(std::move(record));
      wake_.notify_one();
      return true;
    }
  }
  // Log the first drop and then every hundredth, so a dead service cannot flood the log.
  if (dropped_++ % 100 == 0)
    tavsrv::logWarn("msgserver: chat queue full: message of room " +
                    std::to_string(record.room_id) + " not relayed (" +
                    std::to_string(dropped_.load()) + " so far)");
  return false;
}

void ChatForwarder::run() {
  bool service_failing = false;
  for (;;) {
    ChatRecord record;
    std::deque<ChatRecord> abandoned;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty())
        return;
      if (stopping_ && service_failing) {
        abandoned.swap(queue_);
      } else {
        record = std::move(queue_.front());
        queue_.pop_front();
      }
    }
    if (!abandoned.empty()) {
      dropped_ += abandoned.size();
      tavsrv::logWarn("msgserver: chat: " + std::to_string(abandoned.size()) +
                      " messages neither stored nor relayed at shutdown");
      for (ChatRecord& r : abandoned) {
        if (r.done)
          r.done(false, {});
      }
      return;
    }
    std::string stored;
    const Verdict verdict = post(record, &stored);
    switch (verdict) {
      case Verdict::accepted:
        ++forwarded_;
        break;
      case Verdict::refused:
        ++refused_;
        break;
      case Verdict::failed:
        ++failed_;
        break;
    }
    service_failing = verdict == Verdict::failed;
    if (record.done)
      record.done(verdict == Verdict::accepted, std::move(stored));
  }
}

ChatForwarder::Verdict ChatForwarder::post(const ChatRecord& record, std::string* stored) {
  // One client per record keeps the worker free of stale keep-alive state; the
  // rate is that of people typing.
  httplib::Client client(service_.scheme_host_port);
  client.set_connection_timeout(2, 0);
  client.set_read_timeout(5, 0);
  client.set_write_timeout(5, 0);
  const httplib::Headers headers{{kTokenHeader, token_}};
  httplib::Params params{{"chatRoomId", std::to_string(record.room_id)},
                         {"userId", std::to_string(record.user_id)},
                         {"typeId", record.type_id},
                         {"content64", tavsrv::encodeChatText(record.text)}};
  if (!record.version.empty())
    params.emplace("version", record.version);
  const std::string where =
      "room " + std::to_string(record.room_id) + ", user " + std::to_string(record.user_id);
  const auto result = client.Post(service_.path_prefix + kPath, headers, params);
  if (!result) {
    tavsrv::logWarn("msgserver: chat: service unreachable (" + httplib::to_string(result.error()) +
                    "), message of " + where + " neither stored nor relayed");
    return Verdict::failed;
  }
  if (result->status != 200) {
    tavsrv::logWarn("msgserver: chat: service answered HTTP " + std::to_string(result->status) +
                    ", message of " + where + " neither stored nor relayed");
    return Verdict::failed;
  }
  const auto answer = nlohmann::json::parse(result->body, nullptr, false);
  const auto code = answer.is_object() ? answer.find("code") : answer.end();
  if (code == answer.end() || !code->is_number_integer()) {
    tavsrv::logWarn("msgserver: chat: unreadable answer from the service, message of " + where +
                    " neither stored nor relayed: " + result->body.substr(0, 200));
    return Verdict::failed;
  }
  if (code->get<long long>() != 0) {
    // The sender may not chat there (not a member, muted, auditor) or the record is bad.
    tavsrv::logWarn("msgserver: chat: the service refused the message of " + where + ": " +
                    result->body.substr(0, 200));
    return Verdict::refused;
  }
  const auto body = answer.find("body");
  if (body != answer.end() && body->is_object()) {
    const auto message = body->find("message");
    if (message != body->end() && message->is_string())
      *stored = message->get<std::string>();
  }
  return Verdict::accepted;
}

}  // namespace msgserver

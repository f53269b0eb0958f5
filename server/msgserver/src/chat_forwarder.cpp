#include "chat_forwarder.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "log.h"

namespace msgserver {

std::optional<std::string> chat_type_of(std::string_view text) {
  const auto json = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (json.is_discarded() || !json.is_object())
    return std::nullopt;
  const auto it = json.find("typeId");
  if (it == json.end() || !it->is_string())
    return std::nullopt;
  const auto& type = it->get_ref<const std::string&>();
  if (type == "0" || type == "10" || type == "20")
    return type;
  return std::nullopt;
}

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
    log::warn("chat history queue full: record of room " + std::to_string(record.room_id) +
              " dropped (" + std::to_string(dropped_.load()) + " so far)");
  return false;
}

void ChatForwarder::run() {
  bool service_failing = false;
  for (;;) {
    ChatRecord record;
    bool stopping = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty())
        return;
      stopping = stopping_;
      if (stopping && service_failing) {
        dropped_ += queue_.size();
        log::warn("chat history: " + std::to_string(queue_.size()) +
                  " records dropped at shutdown");
        queue_.clear();
        return;
      }
      record = std::move(queue_.front());
      queue_.pop_front();
    }
    const auto type = chat_type_of(record.text);
    if (!type)
      continue;  // not a chat message: relayed, never stored
    if (post(record, *type)) {
      ++forwarded_;
      service_failing = false;
    } else {
      ++failed_;
      service_failing = true;
    }
  }
}

bool ChatForwarder::post(const ChatRecord& record, const std::string& type_id) {
  // One client per record keeps the worker free of stale keep-alive state; the
  // rate is that of people typing.
  httplib::Client client(service_.scheme_host_port);
  client.set_connection_timeout(2, 0);
  client.set_read_timeout(5, 0);
  client.set_write_timeout(5, 0);
  const httplib::Headers headers{{kTokenHeader, token_}};
  const httplib::Params params{{"chatRoomId", std::to_string(record.room_id)},
                               {"userId", std::to_string(record.user_id)},
                               {"typeId", type_id},
                               {"content", record.text}};
  const std::string where =
      "room " + std::to_string(record.room_id) + ", user " + std::to_string(record.user_id);
  const auto result = client.Post(service_.path_prefix + kPath, headers, params);
  if (!result) {
    log::warn("chat history: service unreachable (" + httplib::to_string(result.error()) +
              "), record of " + where + " lost");
    return false;
  }
  if (result->status != 200) {
    log::warn("chat history: service answered HTTP " + std::to_string(result->status) +
              ", record of " + where + " lost");
    return false;
  }
  const auto answer = nlohmann::json::parse(result->body, nullptr, false);
  const bool accepted = answer.is_object() && answer.contains("code") &&
                        answer["code"].is_number_integer() && answer["code"].get<long long>() == 0;
  if (!accepted) {
    log::warn("chat history: service refused the record of " + where + ": " +
              result->body.substr(0, 200));
    return false;
  }
  return true;
}

}  // namespace msgserver

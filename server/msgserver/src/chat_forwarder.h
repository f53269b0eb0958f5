// Hands chat messages of room channels to the service's chat history, from a
// worker thread with a bounded queue, so relaying never waits for HTTP.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace msgserver {

struct ChatRecord {
  std::uint32_t room_id = 0;
  std::uint32_t user_id = 0;  // the sender's connection, not what the text claims
  std::string text;
};

// The typeId of a chat message ("0", "10" or "20"); nullopt for any other text,
// including text that is not a JSON object.
std::optional<std::string> chat_type_of(std::string_view text);

// A service URL split for the HTTP client: "http://host:port" and a path prefix.
struct ServiceUrl {
  std::string scheme_host_port;
  std::string path_prefix;  // "" or "/something", no trailing slash
};
std::optional<ServiceUrl> parse_service_url(std::string_view url);

class ChatForwarder {
public:
  ChatForwarder(ServiceUrl service, std::string token, std::size_t queue_limit);
  ~ChatForwarder();
  ChatForwarder(const ChatForwarder&) = delete;
  ChatForwarder& operator=(const ChatForwarder&) = delete;

  void start();
  // Posts what is still queued while the service answers, drops the rest.
  void stop();
  // Queues a candidate; false (and counted as dropped) when the queue is full.
  bool submit(ChatRecord record);

  std::uint64_t forwarded() const { return forwarded_; }
  std::uint64_t failed() const { return failed_; }
  std::uint64_t dropped() const { return dropped_; }

  static constexpr const char* kPath = "/internal/chatRecord/add";
  static constexpr const char* kTokenHeader = "X-Tav-Internal-Token";

private:
  void run();
  bool post(const ChatRecord& record, const std::string& type_id);

  const ServiceUrl service_;
  const std::string token_;
  const std::size_t queue_limit_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<ChatRecord> queue_;
  bool stopping_ = false;
  std::thread thread_;

  std::atomic<std::uint64_t> forwarded_{0};
  std::atomic<std::uint64_t> failed_{0};
  std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace msgserver

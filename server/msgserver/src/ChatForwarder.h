// Hands the chat messages of room channels to the service, which stores them
// in the chat history or refuses them (a sender not in the room, muted or an
// auditor). A worker thread with a bounded queue does the HTTP, so the relay
// never waits for it; each record's verdict comes back through its callback.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace msgserver {

struct ChatRecord {
  std::uint32_t room_id = 0;
  std::uint32_t user_id = 0;  // the sender's credential, not what the text claims
  std::string type_id;        // "0", "10" or "20"
  std::string text;
  // Called once on the worker thread: true when the service stored the record,
  // with the text as the service stored it (the sender's name and role are the
  // service's, not the client's; empty from a service that does not say).
  // Not called for a record that submit() refused.
  std::function<void(bool accepted, std::string stored)> done;
  // The version of the service's blacklist the server held when it received the text ("" when
  // it follows none): the service judges the sender as it stood then, not only as it stands
  // when the record arrives.
  std::string version;
};

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
  // Posts what is still queued while the service answers, drops the rest
  // (their callbacks say not accepted).
  void stop();
  // Queues a record; false (and counted as dropped) when the queue is full.
  bool submit(ChatRecord record);

  std::uint64_t forwarded() const { return forwarded_; }
  std::uint64_t refused() const { return refused_; }
  std::uint64_t failed() const { return failed_; }
  std::uint64_t dropped() const { return dropped_; }

  static constexpr const char* kPath = "/internal/chatRecord/add";
  static constexpr const char* kTokenHeader = "X-Tav-Internal-Token";

private:
  enum class Verdict { accepted, refused, failed };

  void run();
  // *stored: the text the service stored, when it accepted the record.
  Verdict post(const ChatRecord& record, std::string* stored);

  const ServiceUrl service_;
  const std::string token_;
  const std::size_t queue_limit_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<ChatRecord> queue_;
  bool stopping_ = false;
  std::thread thread_;

  std::atomic<std::uint64_t> forwarded_{0};
  std::atomic<std::uint64_t> refused_{0};
  std::atomic<std::uint64_t> failed_{0};
  std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace msgserver

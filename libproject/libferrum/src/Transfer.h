// What uploads and downloads share: the transfer thread, stopping it, the
// observer reports and the libcurl plumbing.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "libferrum/libferrum.h"

namespace ferrum {

// Attempts after a broken connection, within one transfer.
constexpr int kRetries = 3;
// Reports at most every this many bytes or milliseconds (and always the last).
constexpr uint64_t kProgressBytes = 64 * 1024;
constexpr auto kProgressInterval = std::chrono::milliseconds(50);
constexpr const char* kTicketHeader = "X-Tav-Ticket";

// Runs one transfer on its own thread and reports to the observer from there
// only, so observer calls never overlap. stop() ends it and returns once the
// thread is gone: no observer call runs or follows.
class TransferThread {
public:
  explicit TransferThread(trans_observer* observer) : observer_(observer) {}
  ~TransferThread() { stop(); }

  void start(std::function<void()> body);
  void stop();

  bool stopping() const { return stop_.load(std::memory_order_relaxed); }
  // Waits for the retry pause; false when stopped meanwhile.
  bool pause(std::chrono::milliseconds length);

  // Reports curr of total, rate-limited unless `last`.
  void progress(uint64_t curr, uint64_t total, bool last = false);
  void fail(int code);
  void complete();
  bool ended() const { return ended_.load(); }

private:
  trans_observer* observer_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  uint64_t reportedBytes_ = 0;
  bool reportedAny_ = false;
  std::chrono::steady_clock::time_point reportedAt_{};
};

// One libcurl easy handle with the options every request here uses; the
// transfer aborts from curl's progress callback once `thread` is stopping.
class Request {
public:
  Request(TransferThread& thread, const std::string& url, const std::string& ticket);
  ~Request();
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  CURL* handle() const { return curl_; }
  void addHeader(const std::string& line);
  // Performs it; the HTTP status in *status (0 when none arrived).
  CURLcode perform(long* status);

  // Bytes moved in this request as curl counts them (for progress).
  std::function<void(uint64_t sent, uint64_t received)> onProgress;

private:
  static int xferinfo(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                      curl_off_t ulnow);
  TransferThread& thread_;
  CURL* curl_ = nullptr;
  curl_slist* headers_ = nullptr;
};

// "http://ip:port".
std::string baseUrl(const char* ip, unsigned short port);
// The file name of a local path (after the last '/' or '\').
std::string fileNameOf(const std::string& path);
// Percent-encodes a URL component.
std::string escape(const std::string& text);

}  // namespace ferrum

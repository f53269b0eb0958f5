#include "Transfer.h"

#include <algorithm>

namespace ferrum {

namespace {
std::once_flag curlInit;
}

void TransferThread::start(std::function<void()> body) {
  thread_ = std::thread([this, body = std::move(body)] {
    pthread_setname_np(pthread_self(), "ferrum");
    body();
  });
}

void TransferThread::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable())
    thread_.join();
}

bool TransferThread::pause(std::chrono::milliseconds length) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, length, [this] { return stop_.load(); });
}

void TransferThread::progress(uint64_t curr, uint64_t total, bool last) {
  if (stopping())
    return;
  // After a resume the server may hold less than was sent: never report backwards.
  if (reportedAny_ && curr < reportedBytes_)
    return;
  const auto now = std::chrono::steady_clock::now();
  if (!last && reportedAny_ && curr < reportedBytes_ + kProgressBytes &&
      now - reportedAt_ < kProgressInterval)
    return;
  if (!last && curr >= total)
    return;  // the final report comes with the end of the transfer
  reportedAny_ = true;
  reportedBytes_ = curr;
  reportedAt_ = now;
  const auto clamp = [](uint64_t v) {
    return static_cast<unsigned>(std::min<uint64_t>(v, 0xFFFFFFFFu));
  };
  observer_->progress(clamp(curr), clamp(total));
}

void TransferThread::fail(int code) {
  ended_ = true;
  if (!stopping())
    observer_->trans_error(code);
}

void TransferThread::complete() {
  ended_ = true;
  if (!stopping())
    observer_->complete();
}

Request::Request(TransferThread& thread, const std::string& url, const std::string& ticket)
    : thread_(thread) {
  std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  curl_ = curl_easy_init();
  if (!curl_)
    return;
  curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
  // A connection that moves nothing for 30 s is broken.
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, 30L);
  curl_easy_setopt(curl_, CURLOPT_BUFFERSIZE, 512L * 1024);
  curl_easy_setopt(curl_, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
  curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &Request::xferinfo);
  curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(curl_, CURLOPT_PROXY, "");  // the file service is reached directly
  addHeader(std::string(kTicketHeader) + ": " + ticket);
  addHeader("Expect:");  // the body follows the head without waiting for 100 Continue
}

Request::~Request() {
  if (curl_)
    curl_easy_cleanup(curl_);
  curl_slist_free_all(headers_);
}

void Request::addHeader(const std::string& line) {
  headers_ = curl_slist_append(headers_, line.c_str());
  if (curl_)
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
}

CURLcode Request::perform(long* status) {
  *status = 0;
  if (!curl_)
    return CURLE_FAILED_INIT;
  const CURLcode result = curl_easy_perform(curl_);
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, status);
  return result;
}

int Request::xferinfo(void* self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  auto* request = static_cast<Request*>(self);
  if (request->thread_.stopping())
    return 1;  // aborts the transfer at once
  if (request->onProgress)
    request->onProgress(static_cast<uint64_t>(ulnow), static_cast<uint64_t>(dlnow));
  return 0;
}

std::string baseUrl(const char* ip, unsigned short port) {
  return std::string("http://") + ip + ":" + std::to_string(port);
}

std::string fileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string escape(const std::string& text) {
  char* escaped = curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size()));
  if (!escaped)
    return {};
  std::string out(escaped);
  curl_free(escaped);
  return out;
}

}  // namespace ferrum

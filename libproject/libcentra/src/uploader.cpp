#include "uploader.h"

#include <httplib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <vector>

namespace centra_impl {

using json = nlohmann::json;

namespace {

// Waits of one request; a piece of 1 MiB is well within them on a slow line.
constexpr time_t kTimeoutSeconds = 30;
// How long the renditions may take before the upload counts as failed, and how often the
// server is asked meanwhile.
constexpr int kPublishWaitMs = 30 * 60 * 1000;
constexpr int kAskEveryMs = 500;

std::string form_encode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char ch : text) {
    if (std::isalnum(ch) || ch == '-' || ch == '_' || ch == '.' || ch == '~') {
      out.push_back(static_cast<char>(ch));
    } else {
      out.push_back('%');
      out.push_back(hex[ch >> 4]);
      out.push_back(hex[ch & 15]);
    }
  }
  return out;
}

struct answer {
  bool reached = false;
  int status = 0;
  json body;  // the answer's "body"
  int code = -1;
  std::string message;
};

answer read(const httplib::Result& res) {
  answer a;
  if (!res)
    return a;
  a.reached = true;
  a.status = res->status;
  const json j = json::parse(res->body, nullptr, false);
  if (j.is_object()) {
    a.code = j.value("code", -1);
    a.message = j.value("msg", "");
    if (j.contains("body") && j["body"].is_object())
      a.body = j["body"];
  }
  return a;
}

}  // namespace

uploader::uploader(std::string host, uint16_t port, std::string credential)
    : host_(std::move(host)), port_(port), credential_(std::move(credential)) {}

uploader::~uploader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable())
    thread_.join();
}

bool uploader::start(recording_folder folder, std::string description, progress on_progress,
                     finished on_finished) {
  if (running_)
    return false;
  if (thread_.joinable())
    thread_.join();
  running_ = true;
  progress_ = std::move(on_progress);
  thread_ = std::thread([this, folder, description, on_finished]() mutable {
    const upload_result result = run(folder, description);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_)
        return;  // abandoned: nobody is told
    }
    running_ = false;
    on_finished(result);
  });
  return true;
}

bool uploader::pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

upload_result uploader::run(recording_folder& folder, const std::string& description) {
  httplib::Client client(host_, port_);
  client.set_connection_timeout(kTimeoutSeconds);
  client.set_read_timeout(kTimeoutSeconds);
  client.set_write_timeout(kTimeoutSeconds);
  const httplib::Headers credential{{"X-Tav-Credential", credential_}};
  std::ifstream file(folder.file(), std::ios::binary);
  file.seekg(0, std::ios::end);
  const int64_t size = file ? static_cast<int64_t>(file.tellg()) : -1;
  if (size <= 0)
    return {1, "no recording"};

  // A step tried again while the server is not reached; an answer ends it.
  auto ask = [&](const std::function<httplib::Result()>& request) {
    answer a;
    for (int attempt = 0; attempt < kTries; ++attempt) {
      a = read(request());
      if (a.reached && a.status < 500)
        return a;
      if (!pause(500 << std::min(attempt, 4)))
        return answer{};
    }
    return a;
  };

  // The upload: the one made before for this description, if the server still has it.
  answer status;
  if (!folder.meta().upload.empty() && folder.meta().description == description) {
    status = ask([&] { return client.Get("/video/uploads/" + folder.meta().upload, credential); });
    if (!status.reached)
      return {-1, "the video server is not reached"};
  }
  if (status.status != 200 || status.body.value("state", "") == "failed") {
    const std::string body = "size=" + std::to_string(size) + "&desc=" + form_encode(description);
    status = ask([&] {
      return client.Post("/video/uploads", credential, body, "application/x-www-form-urlencoded");
    });
    if (!status.reached)
      return {-1, "the video server is not reached"};
    if (status.status != 200)
      return {1, status.message};
    folder.meta().upload = status.body.value("id", "");
    folder.meta().description = description;
    folder.save();
  }
  const std::string id = folder.meta().upload;

  // The bytes from what the server holds.
  std::vector<char> piece(kPieceBytes);
  int failures = 0;
  while (status.body.value("state", "") == "receiving") {
    const int64_t held = status.body.value("offset", int64_t{0});
    if (progress_)
      progress_(static_cast<uint64_t>(held), static_cast<uint64_t>(size));
    const int64_t length = std::min<int64_t>(kPieceBytes, size - held);
    if (length <= 0)
      return {1, "the server holds more than the recording"};
    file.clear();
    file.seekg(held);
    file.read(piece.data(), length);
    if (file.gcount() != length)
      return {1, "the recording cannot be read"};
    httplib::Headers headers = credential;
    headers.emplace("Content-Range", "bytes " + std::to_string(held) + "-" +
                                         std::to_string(held + length - 1) + "/" +
                                         std::to_string(size));
    answer next = read(client.Put("/video/uploads/" + id, headers, piece.data(),
                                  static_cast<size_t>(length), "application/octet-stream"));
    if (next.reached && (next.status == 200 || next.status == 409) && next.body.is_object() &&
        next.body.contains("offset")) {
      // Stored, or the server holds another offset (a piece broke off, or another writer is
      // busy with it): go on from there.
      if (next.status == 409 && !pause(200))
        return {-1, "stopped"};
      failures = 0;
      status = next;
      continue;
    }
    if (next.reached && next.status < 500 && next.status != 409)
      return {1, next.message};
    // Broken off: what the server holds decides.
    if (++failures >= kTries || !pause(500 << std::min(failures, 4)))
      return {-1, "the video server is not reached"};
    next = read(client.Get("/video/uploads/" + id, credential));
    if (next.reached && next.status == 200)
      status = next;
  }
  if (progress_)
    progress_(static_cast<uint64_t>(size), static_cast<uint64_t>(size));

  // The renditions and the courseware.
  for (int waited = 0; waited < kPublishWaitMs; waited += kAskEveryMs) {
    const std::string state = status.body.value("state", "");
    if (state == "published")
      return {0, ""};
    if (state == "failed")
      return {1, status.body.value("message", "")};
    if (!pause(kAskEveryMs))
      return {-1, "stopped"};
    status = ask([&] { return client.Get("/video/uploads/" + id, credential); });
    if (!status.reached)
      return {-1, "the video server is not reached"};
  }
  return {-1, "the video server did not publish the recording in time"};
}

}  // namespace centra_impl

// Upload: the file's bytes go as the raw body of POST uds/upload with the total
// size and the offset they start at, so a broken connection continues from the
// bytes the server holds (see README.md).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "Transfer.h"

namespace ferrum {
namespace {

class Upload final : public velupload {
public:
  Upload(trans_observer* observer, unsigned userId, unsigned roomId, std::string localPath,
         std::string ticket, std::string base)
      : thread_(observer),
        localPath_(std::move(localPath)),
        ticket_(std::move(ticket)),
        url_(std::move(base) + "/uds/upload?roomId=" + std::to_string(roomId) +
             "&userId=" + std::to_string(userId) + "&name=" + escape(fileNameOf(localPath_))) {
    thread_.start([this] { run(); });
  }
  ~Upload() override {
    thread_.stop();
    if (fd_ >= 0)
      ::close(fd_);
  }

private:
  enum class Outcome { Done, Continue, Network, Refused, File, Stopped };

  void run();
  // Sends the bytes from offset_; on Continue offset_ is where to go on.
  Outcome send();
  // Asks the server how many bytes it holds (into offset_).
  Outcome ask();
  Outcome readAnswer(CURLcode result, long status, const std::string& body, bool finalPiece);

  static size_t readBody(char* buffer, size_t size, size_t count, void* self);
  static size_t collect(char* data, size_t size, size_t count, void* out) {
    auto* text = static_cast<std::string*>(out);
    if (text->size() < 64 * 1024)
      text->append(data, size * count);
    return size * count;
  }

  TransferThread thread_;
  std::string localPath_, ticket_, url_;
  int fd_ = -1;
  uint64_t total_ = 0;
  uint64_t offset_ = 0;    // where the current piece starts
  uint64_t position_ = 0;  // the next byte the body reads
  bool readFailed_ = false;
};

void Upload::run() {
  fd_ = ::open(localPath_.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
    return thread_.fail(trans_error_file);
  total_ = static_cast<uint64_t>(st.st_size);
  url_ += "&size=" + std::to_string(total_);

  int failures = 0;
  int busy = 0;
  bool needAsk = false;
  while (!thread_.stopping()) {
    Outcome outcome = needAsk ? ask() : send();
    if (outcome == Outcome::Continue && needAsk) {
      needAsk = false;
      continue;
    }
    switch (outcome) {
      case Outcome::Done:
        thread_.progress(total_, total_, true);
        return thread_.complete();
      case Outcome::Continue:
        // The server held other bytes than we sent from (409), or took a piece.
        if (++busy > 50)
          return thread_.fail(trans_error_network);
        if (busy > 1 && !thread_.pause(std::chrono::milliseconds(100)))
          return;
        continue;
      case Outcome::Refused:
        return thread_.fail(trans_error_refused);
      case Outcome::File:
        return thread_.fail(trans_error_file);
      case Outcome::Stopped:
        return;
      case Outcome::Network:
        if (++failures > kRetries)
          return thread_.fail(trans_error_network);
        if (!thread_.pause(std::chrono::milliseconds(200 * failures)))
          return;
        needAsk = true;
        break;
    }
  }
}

Upload::Outcome Upload::send() {
  Request request(thread_, url_ + "&offset=" + std::to_string(offset_), ticket_);
  CURL* curl = request.handle();
  std::string body;
  position_ = offset_;
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(total_ - offset_));
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, &Upload::readBody);
  curl_easy_setopt(curl, CURLOPT_READDATA, this);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Upload::collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  request.addHeader("Content-Type: application/octet-stream");
  const uint64_t start = offset_;
  request.onProgress = [this, start](uint64_t sent, uint64_t) {
    thread_.progress(start + sent, total_);
  };
  long status = 0;
  const CURLcode result = request.perform(&status);
  if (readFailed_)
    return Outcome::File;
  return readAnswer(result, status, body, true);
}

Upload::Outcome Upload::ask() {
  Request request(thread_, url_, ticket_);
  CURL* curl = request.handle();
  std::string body;
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "");
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, 0L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Upload::collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  long status = 0;
  const CURLcode result = request.perform(&status);
  return readAnswer(result, status, body, false);
}

Upload::Outcome Upload::readAnswer(CURLcode result, long status, const std::string& body,
                                   bool finalPiece) {
  if (result == CURLE_ABORTED_BY_CALLBACK || thread_.stopping())
    return Outcome::Stopped;
  if (result != CURLE_OK)
    return Outcome::Network;
  if (status == 401 || status == 403 || status == 404)
    return Outcome::Refused;
  if (status != 200)
    return Outcome::Network;  // a busy or failing server: worth another try
  const auto answer = nlohmann::json::parse(body, nullptr, false);
  if (!answer.is_object() || !answer.contains("code") || !answer["code"].is_number_integer())
    return Outcome::Network;
  const int code = answer["code"].get<int>();
  const auto& payload = answer.contains("body") ? answer["body"] : nlohmann::json();
  const auto heldOf = [&](uint64_t* held) {
    if (!payload.is_object() || !payload.contains("offset") ||
        !payload["offset"].is_number_unsigned())
      return false;
    *held = payload["offset"].get<uint64_t>();
    return *held <= total_;
  };
  if (code == 0) {
    if (finalPiece && payload.is_object() && payload.contains("path"))
      return Outcome::Done;
    uint64_t held = 0;
    if (!heldOf(&held))
      return Outcome::Network;
    offset_ = held;
    return Outcome::Continue;
  }
  if (code == 409) {
    uint64_t held = 0;
    if (!heldOf(&held))
      return Outcome::Network;
    offset_ = held;
    return Outcome::Continue;
  }
  if (code == 503 || code == 500)
    return Outcome::Network;
  return Outcome::Refused;  // ticket, room, name, size or quota refused
}

size_t Upload::readBody(char* buffer, size_t size, size_t count, void* self) {
  auto* upload = static_cast<Upload*>(self);
  if (upload->thread_.stopping())
    return CURL_READFUNC_ABORT;
  const size_t want =
      static_cast<size_t>(std::min<uint64_t>(size * count, upload->total_ - upload->position_));
  if (want == 0)
    return 0;
  const ssize_t got = ::pread(upload->fd_, buffer, want, static_cast<off_t>(upload->position_));
  if (got <= 0) {
    upload->readFailed_ = true;
    return CURL_READFUNC_ABORT;
  }
  upload->position_ += static_cast<uint64_t>(got);
  return static_cast<size_t>(got);
}

}  // namespace
}  // namespace ferrum

velupload* velupload::create(trans_observer* observer, unsigned userId, unsigned roomId,
                             const char* localPath, const char* ticket, const char* fileServerIp,
                             unsigned short fileServerPort) {
  if (!observer || !localPath || !*localPath || !ticket || !fileServerIp || !*fileServerIp)
    return nullptr;
  try {
    return new ferrum::Upload(observer, userId, roomId, localPath, ticket,
                              ferrum::baseUrl(fileServerIp, fileServerPort));
  } catch (...) {
    return nullptr;
  }
}

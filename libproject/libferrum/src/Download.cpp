// Download: GET uds/upload/room/R/S/<name> into "<localPath>.part", renamed to
// localPath once whole. A broken connection continues with a Range request from
// the size of the .part, guarded by If-Range with the file's ETag (kept beside
// it in "<localPath>.part.etag"), so a file replaced on the server starts over.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "Transfer.h"

namespace ferrum {
namespace {

bool startsWithNoCase(const std::string& text, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i)
    if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) !=
                                std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

std::string trimmed(const std::string& text) {
  size_t a = 0, b = text.size();
  while (a < b && (text[a] == ' ' || text[a] == '\t'))
    ++a;
  while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\r' || text[b - 1] == '\n'))
    --b;
  return text.substr(a, b - a);
}

class Download final : public veldownload {
public:
  Download(trans_observer* observer, std::string localPath, std::string ticket, std::string url)
      : thread_(observer),
        localPath_(std::move(localPath)),
        partPath_(localPath_ + ".part"),
        tagPath_(localPath_ + ".part.etag"),
        ticket_(std::move(ticket)),
        url_(std::move(url)) {
    thread_.start([this] { run(); });
  }
  ~Download() override {
    thread_.stop();
    closePart();
    // Stopped while running: the user gave up on it, nothing is kept.
    if (!thread_.ended())
      discardPart();
  }

private:
  enum class Outcome { Done, Network, Restart, Refused, File, Stopped };

  void run();
  Outcome attempt();
  bool openPart();
  void closePart() {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = -1;
  }
  void discardPart() {
    std::remove(partPath_.c_str());
    std::remove(tagPath_.c_str());
  }
  bool beginBody();

  static size_t onHeader(char* data, size_t size, size_t count, void* self);
  static size_t onBody(char* data, size_t size, size_t count, void* self);

  TransferThread thread_;
  std::string localPath_, partPath_, tagPath_, ticket_, url_;
  std::string etag_;  // of the file the .part holds the start of
  int fd_ = -1;
  uint64_t have_ = 0;  // bytes in the .part
  uint64_t total_ = 0;
  // Of the answer being read.
  long status_ = 0;
  bool bodyStarted_ = false;
  bool writeFailed_ = false;
  bool rangeMismatch_ = false;
  uint64_t contentLength_ = 0;
  bool haveLength_ = false;
  uint64_t rangeStart_ = 0, rangeTotal_ = 0;
  bool haveRange_ = false;
  std::string answerTag_;
};

void Download::run() {
  // A .part left by an earlier download of this path continues if its tag is known.
  std::ifstream tag(tagPath_);
  std::getline(tag, etag_);
  struct stat st {};
  if (!etag_.empty() && ::stat(partPath_.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    have_ = static_cast<uint64_t>(st.st_size);
  else
    etag_.clear();
  if (!openPart())
    return thread_.fail(trans_error_file);

  int failures = 0;
  int restarts = 0;
  while (!thread_.stopping()) {
    switch (attempt()) {
      case Outcome::Done:
        closePart();
        if (std::rename(partPath_.c_str(), localPath_.c_str()) != 0) {
          discardPart();
          return thread_.fail(trans_error_file);
        }
        std::remove(tagPath_.c_str());
        thread_.progress(total_, total_, true);
        return thread_.complete();
      case Outcome::Refused:
        closePart();
        discardPart();
        return thread_.fail(trans_error_refused);
      case Outcome::File:
        closePart();
        discardPart();
        return thread_.fail(trans_error_file);
      case Outcome::Stopped:
        return;
      case Outcome::Restart:
        // What the .part holds is not the start of the file the server has now.
        have_ = 0;
        etag_.clear();
        if (::ftruncate(fd_, 0) != 0 || ++restarts > kRetries) {
          closePart();
          discardPart();
          return thread_.fail(restarts > kRetries ? trans_error_network : trans_error_file);
        }
        break;
      case Outcome::Network:
        if (++failures > kRetries) {
          closePart();
          // The .part stays (with its tag) for a later download of this path.
          if (have_ == 0)
            discardPart();
          return thread_.fail(trans_error_network);
        }
        if (!thread_.pause(std::chrono::milliseconds(200 * failures)))
          return;
        break;
    }
  }
}

bool Download::openPart() {
  fd_ = ::open(partPath_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0)
    return false;
  if (have_ == 0 && ::ftruncate(fd_, 0) != 0)
    return false;
  return true;
}

Download::Outcome Download::attempt() {
  Request request(thread_, url_, ticket_);
  CURL* curl = request.handle();
  status_ = 0;
  bodyStarted_ = writeFailed_ = rangeMismatch_ = haveLength_ = haveRange_ = false;
  answerTag_.clear();
  if (have_ > 0 && !etag_.empty()) {
    request.addHeader("Range: bytes=" + std::to_string(have_) + "-");
    request.addHeader("If-Range: " + etag_);
  }
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Download::onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Download::onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  request.onProgress = [this](uint64_t, uint64_t) {
    if (bodyStarted_)
      thread_.progress(have_, total_);
  };
  long status = 0;
  const CURLcode result = request.perform(&status);
  if (result == CURLE_ABORTED_BY_CALLBACK || thread_.stopping())
    return Outcome::Stopped;
  if (writeFailed_)
    return Outcome::File;
  if (rangeMismatch_)
    return Outcome::Restart;
  if (result == CURLE_HTTP_RETURNED_ERROR || (result == CURLE_OK && status >= 300)) {
    if (status == 401 || status == 403 || status == 404)
      return Outcome::Refused;
    if (status == 416)
      return Outcome::Restart;
    return Outcome::Network;
  }
  if (result == CURLE_OK && !bodyStarted_ && !beginBody())  // an empty file
    return writeFailed_ ? Outcome::File : Outcome::Restart;
  if (result != CURLE_OK)
    return Outcome::Network;
  return have_ == total_ ? Outcome::Done : Outcome::Network;
}

size_t Download::onHeader(char* data, size_t size, size_t count, void* self) {
  auto* d = static_cast<Download*>(self);
  const std::string line(data, size * count);
  if (startsWithNoCase(line, "HTTP/")) {
    // A new answer (after a redirect or an interim one): forget the last.
    const size_t space = line.find(' ');
    d->status_ = space == std::string::npos ? 0 : std::atol(line.c_str() + space + 1);
    d->haveLength_ = d->haveRange_ = false;
    d->answerTag_.clear();
  } else if (startsWithNoCase(line, "content-length:")) {
    d->contentLength_ = std::strtoull(line.c_str() + 15, nullptr, 10);
    d->haveLength_ = true;
  } else if (startsWithNoCase(line, "etag:")) {
    d->answerTag_ = trimmed(line.substr(5));
  } else if (startsWithNoCase(line, "content-range:")) {
    // "bytes a-b/total"
    const std::string value = trimmed(line.substr(14));
    unsigned long long a = 0, b = 0, total = 0;
    if (std::sscanf(value.c_str(), "bytes %llu-%llu/%llu", &a, &b, &total) == 3) {
      d->rangeStart_ = a;
      d->rangeTotal_ = total;
      d->haveRange_ = true;
    }
  }
  return size * count;
}

// At the first byte of a 200 or 206 answer: where its bytes go in the .part.
bool Download::beginBody() {
  bodyStarted_ = true;
  if (status_ == 206 && haveRange_ && rangeStart_ == have_) {
    total_ = rangeTotal_;
    return true;
  }
  if (status_ != 200 || !haveLength_) {
    rangeMismatch_ = true;
    return false;
  }
  // The whole file: start over (the server may have ignored a stale If-Range).
  have_ = 0;
  total_ = contentLength_;
  if (::ftruncate(fd_, 0) != 0) {
    writeFailed_ = true;
    return false;
  }
  etag_ = answerTag_;
  if (!etag_.empty()) {
    std::ofstream tag(tagPath_, std::ios::trunc);
    tag << etag_ << "\n";
    if (!tag) {
      writeFailed_ = true;
      return false;
    }
  } else {
    std::remove(tagPath_.c_str());
  }
  return true;
}

size_t Download::onBody(char* data, size_t size, size_t count, void* self) {
  auto* d = static_cast<Download*>(self);
  const size_t length = size * count;
  if (d->thread_.stopping())
    return 0;
  if (!d->bodyStarted_ && !d->beginBody())
    return 0;
  if (d->have_ + length > d->total_) {
    d->rangeMismatch_ = true;
    return 0;
  }
  size_t done = 0;
  while (done < length) {
    const ssize_t n =
        ::pwrite(d->fd_, data + done, length - done, static_cast<off_t>(d->have_ + done));
    if (n <= 0) {
      d->writeFailed_ = true;
      return 0;
    }
    done += static_cast<size_t>(n);
  }
  d->have_ += length;
  return length;
}

}  // namespace
}  // namespace ferrum

veldownload* veldownload::create(trans_observer* observer, unsigned ownUserId, unsigned roomId,
                                 unsigned senderUserId, const char* localPath, const char* ticket,
                                 const char* fileServerIp, unsigned short fileServerPort) {
  (void)ownUserId;  // the ticket names the reader
  if (!observer || !localPath || !*localPath || !ticket || !fileServerIp || !*fileServerIp)
    return nullptr;
  const std::string path(localPath);
  const std::string name = ferrum::fileNameOf(path);
  if (name.empty())
    return nullptr;
  try {
    return new ferrum::Download(observer, path, ticket,
                                ferrum::baseUrl(fileServerIp, fileServerPort) +
                                    "/uds/upload/room/" + std::to_string(roomId) + "/" +
                                    std::to_string(senderUserId) + "/" + ferrum::escape(name));
  } catch (...) {
    return nullptr;
  }
}

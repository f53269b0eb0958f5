#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "Domain.h"
#include "Routes.h"
#include "tavsrv/Log.h"
#include "tavsrv/Random.h"

namespace fs = std::filesystem;

namespace tavsvc {

namespace {
using tavsrv::code::kBadRequest;
using tavsrv::code::kNotLoggedIn;
using tavsrv::code::kTooLarge;

const char* contentType(const fs::path& path) {
  std::string ext = path.extension().string();
  for (auto& c : ext)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (ext == ".png")
    return "image/png";
  if (ext == ".jpg" || ext == ".jpeg")
    return "image/jpeg";
  if (ext == ".bmp")
    return "image/bmp";
  if (ext == ".gif")
    return "image/gif";
  if (ext == ".mp4")
    return "video/mp4";
  if (ext == ".pdf")
    return "application/pdf";
  if (ext == ".txt")
    return "text/plain; charset=utf-8";
  return "application/octet-stream";
}

// One path segment of a stored file: no separators, no parent references, no
// hidden files, valid UTF-8 without control characters.
bool isSafeSegment(const std::string& segment) {
  if (segment.empty() || segment.size() > 200 || segment[0] == '.')
    return false;
  if (!tavsrv::isValidUtf8(segment))
    return false;
  for (unsigned char c : segment)
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':')
      return false;
  return true;
}

// The file below root named by relative (segments separated by '/'), or empty
// when the name tries to leave root or names something that is not a file.
fs::path resolveStored(const fs::path& root, const std::string& relative) {
  fs::path out = root;
  size_t start = 0;
  bool any = false;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos)
      end = relative.size();
    const std::string segment = relative.substr(start, end - start);
    start = end + 1;
    if (segment.empty()) {
      if (end == relative.size())
        break;
      continue;  // "a//b" is "a/b"
    }
    if (!isSafeSegment(segment))
      return {};
    out /= segment;
    any = true;
    if (end == relative.size())
      break;
  }
  if (!any)
    return {};
  std::error_code ec;
  const fs::path real = fs::canonical(out, ec);
  const fs::path realRoot = fs::canonical(root, ec);
  if (ec)
    return {};
  // Symbolic links must not lead out of the root either.
  const std::string prefix = realRoot.string() + "/";
  if (real.string().compare(0, prefix.size(), prefix) != 0)
    return {};
  if (!fs::is_regular_file(real, ec))
    return {};
  return real;
}

// The validators of a stored file for If-Range: an ETag from its size and
// modification time, and that time as an HTTP date.
struct Validators {
  std::string etag, lastModified;
};

Validators validatorsOf(const struct stat& st) {
  char etag[64];
  std::snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(st.st_size),
                static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull +
                    static_cast<unsigned long long>(st.st_mtim.tv_nsec));
  struct tm tm {};
  gmtime_r(&st.st_mtim.tv_sec, &tm);
  char date[64];
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return {etag, date};
}

void notFound(httplib::Response& res) {
  res.status = 404;
  res.set_content("not found", "text/plain");
}

// Serves a stored file, streamed from disk. One byte range ("bytes=a-b",
// "bytes=a-", "bytes=-n") is answered with 206 and Content-Range, a range that
// starts past the end with 416; several ranges get the whole file. If-Range
// with a validator that no longer matches gets the whole file too.
void serveFile(const fs::path& root, const std::string& relative, const httplib::Request& req,
               httplib::Response& res) {
  // The range is applied here, not by cpp-httplib: it would not check the
  // range against the size nor honour If-Range.
  const httplib::Ranges ranges = req.ranges;
  const_cast<httplib::Request&>(req).ranges.clear();

  const fs::path file = resolveStored(root, relative);
  if (file.empty())
    return notFound(res);
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0)
      ::close(fd);
    return notFound(res);
  }
  auto handle = std::shared_ptr<int>(new int(fd), [](int* p) {
    ::close(*p);
    delete p;
  });
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const Validators validators = validatorsOf(st);
  res.set_header("ETag", validators.etag);
  res.set_header("Last-Modified", validators.lastModified);
  res.set_header("Accept-Ranges", "bytes");

  uint64_t first = 0, length = size;
  bool partial = false;
  if (ranges.size() == 1) {
    const std::string ifRange = req.get_header_value("If-Range");
    const bool current =
        ifRange.empty() || ifRange == validators.etag || ifRange == validators.lastModified;
    if (current) {
      const auto [a, b] = ranges.front();
      if (a < 0) {  // the last b bytes
        const uint64_t tail = std::min<uint64_t>(static_cast<uint64_t>(b), size);
        first = size - tail;
        length = tail;
      } else {
        first = static_cast<uint64_t>(a);
        const uint64_t last =
            b < 0 ? size - 1 : std::min<uint64_t>(static_cast<uint64_t>(b), size - 1);
        length = first < size ? last - first + 1 : 0;
      }
      if (first >= size || length == 0) {
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        res.set_content("range not satisfiable", "text/plain");
        return;
      }
      partial = true;
    }
  }
  if (partial) {
    res.status = 206;
    res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                        std::to_string(first + length - 1) + "/" +
                                        std::to_string(size));
  } else {
    res.status = 200;
  }
  if (length == 0) {
    // cpp-httplib sends no Content-Length for an empty provider: the client
    // could not tell the end of the answer.
    res.set_content(std::string(), contentType(file));
    res.set_header("Content-Length", "0");
    return;
  }
  res.set_content_provider(static_cast<size_t>(length), contentType(file),
                           [handle, first](size_t offset, size_t want, httplib::DataSink& sink) {
                             char buffer[64 * 1024];
                             want = std::min(want, sizeof buffer);
                             const ssize_t got =
                                 ::pread(*handle, buffer, want,
                                         static_cast<off_t>(first + static_cast<uint64_t>(offset)));
                             if (got <= 0)
                               return false;
                             return sink.write(buffer, static_cast<size_t>(got));
                           });
}

// Receives one uploaded file into a temporary file beside its final place and
// moves it there once complete and synced, so a half-written file is never served.
class UploadSink {
public:
  explicit UploadSink(size_t limit) : limit_(limit) {}
  ~UploadSink() {
    if (fd_ >= 0)
      ::close(fd_);
    if (!temp_.empty()) {
      std::error_code ec;
      fs::remove(temp_, ec);
    }
  }

  bool open(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    temp_ = folder / (".upload-" + tavsrv::randomHex(8));
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    return fd_ >= 0;
  }
  bool write(const char* data, size_t length) {
    size_ += length;
    if (size_ > limit_) {
      tooLarge_ = true;
      return false;
    }
    while (length > 0) {
      const ssize_t n = ::write(fd_, data, length);
      if (n <= 0)
        return false;
      data += n;
      length -= static_cast<size_t>(n);
    }
    return true;
  }
  bool finish(const fs::path& target) {
    if (::fsync(fd_) != 0)
      return false;
    ::close(fd_);
    fd_ = -1;
    std::error_code ec;
    fs::rename(temp_, target, ec);
    if (ec)
      return false;
    temp_.clear();
    // The new directory entry must reach the disk too before the upload is acknowledged.
    const int dir = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
    return true;
  }
  bool tooLarge() const { return tooLarge_; }
  size_t size() const { return size_; }

private:
  size_t limit_;
  fs::path temp_;
  int fd_ = -1;
  size_t size_ = 0;
  bool tooLarge_ = false;
};

uint32_t parseId(const std::string& text) {
  if (text.empty() || text.size() > 10)
    return 0;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return 0;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(value);
}

// Bytes below folder (0 when it does not exist).
uint64_t folderSize(const fs::path& folder) {
  uint64_t total = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code sizeError;
    if (it->is_regular_file(sizeError)) {
      const auto size = it->file_size(sizeError);
      if (!sizeError)
        total += size;
    }
  }
  return total;
}

// The room exists and the uploader belongs to it (and is not removed from it).
void requireUploader(Context& ctx, tavsrv::Connection& db, uint32_t roomId, uint32_t userId) {
  if (!loadRoom(db, roomId))
    throw Refusal(tavsrv::code::kNotFound, "教室不存在！");
  const Standing standing = standingIn(db, roomId, userId, ctx.now());
  if (!standing.belongs)
    throw Refusal(tavsrv::code::kForbidden, "您不是该教室的成员，不能上传文件！");
  if (standing.banLeftMs > 0)
    throw Refusal(tavsrv::code::kForbidden, banMessage(standing.banLeftMs));
}

// Unfinished uploads in the staging folder whose name starts with prefix.
uint64_t partialsSize(const fs::path& staging, const std::string& prefix) {
  uint64_t total = 0;
  std::error_code ec;
  for (fs::directory_iterator it(staging, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code sizeError;
    if (it->path().filename().string().rfind(prefix, 0) == 0) {
      const auto size = it->file_size(sizeError);
      if (!sizeError)
        total += size;
    }
  }
  return total;
}

std::string partialPrefix(uint32_t roomId, std::optional<uint32_t> userId) {
  std::string prefix = "partial-" + std::to_string(roomId) + "-";
  return userId ? prefix + std::to_string(*userId) + "-" : prefix;
}

// Reserves want bytes (up to want with partly) of the member's and the room's
// quota, counting what is stored there and what the unfinished uploads hold.
// Refusal when nothing (with partly) or not all of want fits.
UploadReservations::Hold reserveSpace(Context& ctx, tavsrv::Connection& db, uint32_t roomId,
                                      uint32_t userId, uint64_t want, bool partly) {
  const fs::path room = fs::path(ctx.uploadsDir) / "room" / std::to_string(roomId);
  const fs::path staging = fs::path(ctx.uploadsDir) / ".staging";
  uint64_t left = 0;
  auto hold = ctx.uploads.reserve(
      *ctx.pool, db, roomId, userId, want, partly, ctx.config.uploadQuotaPerUser,
      ctx.config.uploadQuotaPerRoom, ctx.now(),
      [&] {
        UploadReservations::Stored stored;
        stored.member = folderSize(room / std::to_string(userId)) +
                        partialsSize(staging, partialPrefix(roomId, userId));
        stored.room = folderSize(room) + partialsSize(staging, partialPrefix(roomId, {}));
        return stored;
      },
      &left);
  if (hold.bytes() == 0 && want > 0) {
    if (left == 0)
      throw Refusal(tavsrv::code::kFailed, "上传空间已满，请删除不需要的文件后再试！");
    throw Refusal(tavsrv::code::kTooLarge, "上传空间不足，请删除不需要的文件后再试！");
  }
  return hold;
}

// Files below "room/R/" belong to room R: only its owner, assistants and
// members get them, named by their ticket (X-Tav-Ticket or the query's
// ticketId). Everything else below uds/upload (avatars, posters, gifts, medals)
// is public. False with the refusal set in res when the caller may not read.
bool mayRead(Context& ctx, const httplib::Request& req, const std::string& relative,
             httplib::Response& res) {
  std::vector<std::string> segments;
  size_t start = 0;
  while (start < relative.size() && segments.size() < 2) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos)
      end = relative.size();
    if (end > start)
      segments.push_back(relative.substr(start, end - start));
    start = end + 1;
  }
  if (segments.empty() || segments[0] != "room")
    return true;
  const auto refuse = [&](int code, const std::string& msg) {
    tavsrv::sendJson(res, tavsrv::refusal(code, msg), code);
    return false;
  };
  const uint32_t roomId = segments.size() > 1 ? parseId(segments[1]) : 0;
  if (roomId == 0)
    return refuse(tavsrv::code::kNotFound, "文件不存在！");
  const std::string ticket = req.has_header(kTicketHeader) ? req.get_header_value(kTicketHeader)
                                                           : req.get_param_value("ticketId");
  try {
    auto lease = ctx.pool->acquire();
    const uint32_t reader = ticketOwner(*lease, ticket, ctx.now()).value_or(0);
    if (reader == 0)
      return refuse(kNotLoggedIn, "登录已失效，请重新登录！");
    if (!loadRoom(*lease, roomId))
      return refuse(tavsrv::code::kNotFound, "教室不存在！");
    const Standing standing = standingIn(*lease, roomId, reader, ctx.now());
    if (!standing.belongs)
      return refuse(tavsrv::code::kForbidden, kNoRight);
    if (standing.banLeftMs > 0)
      return refuse(tavsrv::code::kForbidden, banMessage(standing.banLeftMs));
  } catch (const tavsrv::DbError& error) {
    tavsrv::logError(std::string("file access: ") + error.what());
    return refuse(tavsrv::code::kInternal, "服务器繁忙，请稍后重试！");
  }
  return true;
}

// A partial upload older than this is given up and removed.
constexpr auto kPartialLifetime = std::chrono::hours(24);

void removeStalePartials(const fs::path& staging) {
  std::error_code ec;
  const auto now = fs::file_time_type::clock::now();
  for (fs::directory_iterator it(staging, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename().string().rfind("partial-", 0) != 0)
      continue;
    std::error_code timeError;
    const auto written = it->last_write_time(timeError);
    if (!timeError && now - written > kPartialLifetime)
      fs::remove(it->path(), timeError);
  }
}

// POST uds/upload?roomId=R&userId=U&name=N&size=TOTAL[&offset=K], body: bytes
// K.. of the file. The bytes received so far are kept under a hidden name in
// the staging folder (never served), keyed by room, user, total size and name;
// the file moves to room/R/U/N once all TOTAL bytes are there. Answers:
// without offset (a question, the body is not read) and for a piece that
// leaves the file incomplete: body {"offset": bytes held, "size": TOTAL};
// offset 0 starts over; another offset than the bytes held: code 409 with the
// same body, nothing read; the last piece: {"path", "size"} as a plain upload.
void resumableUpload(Context& ctx, const httplib::Request& req, httplib::Response& res,
                     const httplib::ContentReader& reader, uint32_t roomId, uint32_t userId) {
  const auto refuse = [&](int code, const std::string& msg, json body = json::object()) {
    json answer = tavsrv::refusal(code, msg);
    answer["body"] = std::move(body);
    tavsrv::sendJson(res, answer);
  };
  const std::string name = req.get_param_value("name");
  if (!isSafeSegment(name))
    return refuse(kBadRequest, "文件名不合要求！");
  const std::string sizeText = req.get_param_value("size");
  uint64_t total = 0;
  if (sizeText.empty() || sizeText.size() > 12 ||
      sizeText.find_first_not_of("0123456789") != std::string::npos)
    return refuse(kBadRequest, "参数错误：size");
  total = std::stoull(sizeText);
  if (total > ctx.config.uploadLimit)
    return refuse(kTooLarge, "文件过大！");
  const bool question = !req.has_param("offset");
  uint64_t offset = 0;
  if (!question) {
    const std::string text = req.get_param_value("offset");
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos)
      return refuse(kBadRequest, "参数错误：offset");
    offset = std::stoull(text);
  }

  const fs::path staging = fs::path(ctx.uploadsDir) / ".staging";
  std::error_code ec;
  fs::create_directories(staging, ec);
  removeStalePartials(staging);
  const fs::path partial = staging / (partialPrefix(roomId, userId) + sizeText + "-" + name);
  const int fd = ::open(partial.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0)
    return refuse(tavsrv::code::kInternal, "保存文件失败！");
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    return refuse(tavsrv::code::kInternal, "保存文件失败！");
  uint64_t held = static_cast<uint64_t>(st.st_size);
  // One writer at a time; a client resuming while its broken request is still
  // being read here hears how much is held and tries again.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    return refuse(409, "文件正在上传，请稍后再试！", json{{"offset", held}, {"size", total}});
  if (held > total) {
    if (::ftruncate(fd, 0) != 0)
      return refuse(tavsrv::code::kInternal, "保存文件失败！");
    held = 0;
  }
  if (!question && offset == 0 && held != 0) {
    if (::ftruncate(fd, 0) != 0)
      return refuse(tavsrv::code::kInternal, "保存文件失败！");
    held = 0;
  }
  if (!question && offset != held)
    return refuse(409, "上传位置不对！", json{{"offset", held}, {"size", total}});
  // What the file still needs is reserved before its bytes are read (the bytes
  // held already count as stored, as do the member's other unfinished uploads).
  UploadReservations::Hold hold;
  try {
    auto lease = ctx.pool->acquire();
    hold = reserveSpace(ctx, *lease, roomId, userId, total - held, false);
  } catch (const Refusal& refusal) {
    if (held == 0)
      fs::remove(partial, ec);
    return refuse(refusal.code == tavsrv::code::kFailed ? kTooLarge : refusal.code, refusal.what());
  } catch (const tavsrv::DbError& error) {
    tavsrv::logError(std::string("upload: ") + error.what());
    return refuse(tavsrv::code::kInternal, "服务器繁忙，请稍后重试！");
  }
  if (question)
    return tavsrv::sendJson(res, tavsrv::ok(json{{"offset", held}, {"size", total}}));

  bool overflow = false, writeFailed = false;
  const bool readOk = reader([&](const char* data, size_t length) {
    if (held + length > total) {
      overflow = true;
      return false;
    }
    while (length > 0) {
      const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(held));
      if (n <= 0) {
        writeFailed = true;
        return false;
      }
      data += n;
      held += static_cast<uint64_t>(n);
      length -= static_cast<size_t>(n);
    }
    return true;
  });
  if (overflow) {
    if (::ftruncate(fd, static_cast<off_t>(offset)) != 0)
      held = 0;
    return refuse(kTooLarge, "上传内容超过文件大小！");
  }
  if (writeFailed)
    return refuse(tavsrv::code::kInternal, "保存文件失败！");
  // A broken request keeps what arrived: the client continues from there.
  if (!readOk)
    return refuse(kBadRequest, "上传内容不完整！", json{{"offset", held}, {"size", total}});
  if (held < total)
    return tavsrv::sendJson(res, tavsrv::ok(json{{"offset", held}, {"size", total}}));

  const std::string relative =
      "room/" + std::to_string(roomId) + "/" + std::to_string(userId) + "/" + name;
  const fs::path folder =
      fs::path(ctx.uploadsDir) / "room" / std::to_string(roomId) / std::to_string(userId);
  fs::create_directories(folder, ec);
  if (ec || ::fsync(fd) != 0)
    return refuse(tavsrv::code::kInternal, "保存文件失败！");
  fs::rename(partial, folder / name, ec);
  if (ec)
    return refuse(tavsrv::code::kInternal, "保存文件失败！");
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  tavsrv::sendJson(res, tavsrv::ok(json{{"path", "/" + relative}, {"size", total}}));
}

// POST uds/upload: one file for room R from user U named N, stored as
// "room/R/U/N" and served at "uds/upload/room/R/U/N". The uploader is the user
// of the ticket, sent as the X-Tav-Ticket header or the query parameter
// ticketId: it is checked before a byte of the body is read, and so are the
// room and the quotas when roomId comes in the query. roomId, userId (which
// must be the ticket's user) and name come as query parameters with a raw
// body, or as fields of a multipart form whose part "file" is the content (its
// file name is the default for name).
void upload(Context& ctx, const httplib::Request& req, httplib::Response& res,
            const httplib::ContentReader& reader) {
  const auto refuse = [&](int code, const std::string& msg) {
    tavsrv::sendJson(res, tavsrv::refusal(code, msg));
  };
  std::map<std::string, std::string> fields;
  for (const auto& param : req.params)
    fields.emplace(param.first, param.second);
  const std::string ticket =
      req.has_header(kTicketHeader) ? req.get_header_value(kTicketHeader) : fields["ticketId"];
  uint32_t uploader = 0;
  uint64_t allowance = ctx.config.uploadLimit;
  bool roomChecked = false;
  const bool resumable = !req.is_multipart_form_data() && req.has_param("size");
  // The declared size: the body's length (a multipart form's is a little more
  // than its file), the largest file when it is not told (chunked).
  const std::string lengthText = req.get_header_value("Content-Length");
  const bool lengthKnown = !lengthText.empty() && lengthText.size() <= 18 &&
                           lengthText.find_first_not_of("0123456789") == std::string::npos;
  const uint64_t declared = lengthKnown ? std::stoull(lengthText) : ctx.config.uploadLimit;
  UploadReservations::Hold hold;
  try {
    auto lease = ctx.pool->acquire();
    uploader = ticketOwner(*lease, ticket, ctx.now()).value_or(0);
    if (uploader == 0)
      return refuse(kNotLoggedIn, "登录已失效，请重新登录！");
    const std::string queryUser = fields["userId"];
    if (!queryUser.empty() && parseId(queryUser) != uploader)
      return refuse(tavsrv::code::kForbidden, kNoRight);
    if (const uint32_t roomId = parseId(fields["roomId"]); roomId != 0) {
      requireUploader(ctx, *lease, roomId, uploader);
      roomChecked = true;
      if (!resumable) {
        // A raw body's whole size is reserved before a byte of it is read;
        // a form's (whose length is more than its file) as far as it fits.
        const bool raw = !req.is_multipart_form_data() && lengthKnown;
        if (raw && declared > ctx.config.uploadLimit)
          return refuse(kTooLarge, "文件过大！");
        hold = reserveSpace(ctx, *lease, roomId, uploader, std::min(declared, allowance), !raw);
        allowance = hold.bytes();
      }
    }
  } catch (const Refusal& refusal) {
    return refuse(refusal.code, refusal.what());
  } catch (const tavsrv::DbError& error) {
    tavsrv::logError(std::string("upload: ") + error.what());
    return refuse(tavsrv::code::kInternal, "服务器繁忙，请稍后重试！");
  }

  if (resumable) {
    if (!roomChecked)
      return refuse(kBadRequest, "缺少参数：roomId");
    return resumableUpload(ctx, req, res, reader, parseId(fields["roomId"]), uploader);
  }

  UploadSink sink(static_cast<size_t>(allowance));
  std::string partName;
  std::string partFileName;
  bool sawFile = false;
  bool opened = false;
  const fs::path staging = fs::path(ctx.uploadsDir) / ".staging";
  bool readOk;
  if (req.is_multipart_form_data()) {
    std::string fieldValue;
    readOk = reader(
        [&](const httplib::MultipartFormData& part) {
          if (!partName.empty() && partName != "file")
            fields[partName] = fieldValue;
          partName = part.name;
          fieldValue.clear();
          if (partName == "file") {
            if (sawFile)
              return false;
            sawFile = true;
            partFileName = part.filename;
            opened = sink.open(staging);
            return opened;
          }
          return true;
        },
        [&](const char* data, size_t length) {
          if (partName == "file")
            return sink.write(data, length);
          if (fieldValue.size() + length > 4096)
            return false;
          fieldValue.append(data, length);
          return true;
        });
    if (!partName.empty() && partName != "file")
      fields[partName] = fieldValue;
  } else {
    opened = sink.open(staging);
    sawFile = opened;
    readOk =
        opened && reader([&](const char* data, size_t length) { return sink.write(data, length); });
  }
  if (sink.tooLarge())
    return refuse(kTooLarge, allowance < ctx.config.uploadLimit
                                 ? "上传空间不足，请删除不需要的文件后再试！"
                                 : "文件过大！");
  if (!readOk || !sawFile || !opened)
    return refuse(kBadRequest, "上传内容不完整！");

  const uint32_t roomId = parseId(fields["roomId"]);
  const uint32_t userId = fields["userId"].empty() ? uploader : parseId(fields["userId"]);
  std::string name = fields.count("name") ? fields["name"] : partFileName;
  if (roomId == 0)
    return refuse(kBadRequest, "缺少参数：roomId");
  if (userId != uploader)
    return refuse(tavsrv::code::kForbidden, kNoRight);
  if (!isSafeSegment(name))
    return refuse(kBadRequest, "文件名不合要求！");
  if (!roomChecked) {
    // The room came inside the form: checked now, the file still only staged,
    // and its size reserved until it is in place.
    try {
      auto lease = ctx.pool->acquire();
      requireUploader(ctx, *lease, roomId, uploader);
      hold = reserveSpace(ctx, *lease, roomId, uploader, sink.size(), false);
    } catch (const Refusal& refusal) {
      return refuse(refusal.code, refusal.what());
    } catch (const tavsrv::DbError& error) {
      tavsrv::logError(std::string("upload: ") + error.what());
      return refuse(tavsrv::code::kInternal, "服务器繁忙，请稍后重试！");
    }
  }
  const std::string relative =
      "room/" + std::to_string(roomId) + "/" + std::to_string(userId) + "/" + name;
  const fs::path folder =
      fs::path(ctx.uploadsDir) / "room" / std::to_string(roomId) / std::to_string(userId);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !sink.finish(folder / name))
    return refuse(tavsrv::code::kInternal, "保存文件失败！");
  tavsrv::sendJson(res, tavsrv::ok(json{{"path", "/" + relative}, {"size", sink.size()}}));
}
}  // namespace

void addFileRoutes(Router& router) {
  Context& ctx = router.ctx();
  // "uds/upload" + "/poster/1.bmp" and "uds/upload/" + "avatar/1.bmp" both arrive here.
  router.server().Get(
      R"(/uds/upload(/.*)?)", [&ctx](const httplib::Request& req, httplib::Response& res) {
        const std::string relative = req.matches.size() > 1 ? req.matches[1].str() : std::string();
        if (mayRead(ctx, req, relative, res))
          serveFile(ctx.uploadsDir, relative, req, res);
      });
  router.server().Get(R"(/download/(.+))",
                      [&ctx](const httplib::Request& req, httplib::Response& res) {
                        serveFile(ctx.downloadsDir, req.matches[1].str(), req, res);
                      });
  router.server().Post("/uds/upload", [&ctx](const httplib::Request& req, httplib::Response& res,
                                             const httplib::ContentReader& reader) {
    upload(ctx, req, res, reader);
  });
}

}  // namespace tavsvc

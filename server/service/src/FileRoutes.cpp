#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

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

void serveFile(const fs::path& root, const std::string& relative, httplib::Response& res) {
  const fs::path file = resolveStored(root, relative);
  std::error_code ec;
  const auto size = file.empty() ? 0 : fs::file_size(file, ec);
  if (file.empty() || ec) {
    res.status = 404;
    res.set_content("not found", "text/plain");
    return;
  }
  auto stream = std::make_shared<std::ifstream>(file, std::ios::binary);
  if (!*stream) {
    res.status = 404;
    res.set_content("not found", "text/plain");
    return;
  }
  res.set_content_provider(static_cast<size_t>(size), contentType(file),
                           [stream](size_t offset, size_t length, httplib::DataSink& sink) {
                             char buffer[64 * 1024];
                             stream->clear();
                             stream->seekg(static_cast<std::streamoff>(offset));
                             const size_t want = std::min(length, sizeof buffer);
                             stream->read(buffer, static_cast<std::streamsize>(want));
                             const auto got = stream->gcount();
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

// The room exists, the uploader belongs to it, and what it may still store there:
// the smaller of its own and the room's remaining quota. Refusal otherwise.
uint64_t roomAllowance(Context& ctx, tavsrv::Connection& db, uint32_t roomId, uint32_t userId) {
  if (!loadRoom(db, roomId))
    throw Refusal(tavsrv::code::kNotFound, "教室不存在！");
  if (!belongsToRoom(db, roomId, userId))
    throw Refusal(tavsrv::code::kForbidden, "您不是该教室的成员，不能上传文件！");
  const fs::path room = fs::path(ctx.uploadsDir) / "room" / std::to_string(roomId);
  const uint64_t usedByUser = folderSize(room / std::to_string(userId));
  const uint64_t usedInRoom = folderSize(room);
  const uint64_t userQuota = ctx.config.uploadQuotaPerUser;
  const uint64_t roomQuota = ctx.config.uploadQuotaPerRoom;
  if (usedByUser >= userQuota || usedInRoom >= roomQuota)
    throw Refusal(tavsrv::code::kFailed, "上传空间已满，请删除不需要的文件后再试！");
  return std::min(userQuota - usedByUser, roomQuota - usedInRoom);
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
  try {
    auto lease = ctx.pool->acquire();
    uploader = ticketOwner(*lease, ticket, ctx.now()).value_or(0);
    if (uploader == 0)
      return refuse(kNotLoggedIn, "登录已失效，请重新登录！");
    const std::string queryUser = fields["userId"];
    if (!queryUser.empty() && parseId(queryUser) != uploader)
      return refuse(tavsrv::code::kForbidden, kNoRight);
    if (const uint32_t roomId = parseId(fields["roomId"]); roomId != 0) {
      allowance = std::min<uint64_t>(allowance, roomAllowance(ctx, *lease, roomId, uploader));
      roomChecked = true;
    }
  } catch (const Refusal& refusal) {
    return refuse(refusal.code, refusal.what());
  } catch (const tavsrv::DbError& error) {
    tavsrv::logError(std::string("upload: ") + error.what());
    return refuse(tavsrv::code::kInternal, "服务器繁忙，请稍后重试！");
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
    // The room came inside the form: checked now, the file still only staged.
    try {
      auto lease = ctx.pool->acquire();
      if (sink.size() > roomAllowance(ctx, *lease, roomId, uploader))
        return refuse(kTooLarge, "上传空间不足，请删除不需要的文件后再试！");
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
  router.server().Get(R"(/uds/upload(/.*)?)", [&ctx](const httplib::Request& req,
                                                     httplib::Response& res) {
    serveFile(ctx.uploadsDir, req.matches.size() > 1 ? req.matches[1].str() : std::string(), res);
  });
  router.server().Get(R"(/download/(.+))",
                      [&ctx](const httplib::Request& req, httplib::Response& res) {
                        serveFile(ctx.downloadsDir, req.matches[1].str(), res);
                      });
  router.server().Post("/uds/upload", [&ctx](const httplib::Request& req, httplib::Response& res,
                                             const httplib::ContentReader& reader) {
    upload(ctx, req, res, reader);
  });
}

}  // namespace tavsvc

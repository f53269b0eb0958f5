// The video server's HTTP side (cpp-httplib):
//
//   POST /video/uploads            X-Tav-Credential; form size=BYTES&desc=TAG -> the upload
//   GET  /video/uploads/ID         X-Tav-Credential -> offset held, size, state
//   PUT  /video/uploads/ID         X-Tav-Credential; Content-Range: bytes A-B/SIZE; the bytes
//   GET  /video/files/ROOM/ID/OD.mp4 (and LD.mp4)  the renditions, with byte ranges
//
// Answers are {"code","msg","body"} like the service's, with an HTTP status that says the
// same. Everything about a request is checked from its head before its body is read.
#include "video/Server.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "Renderer.h"
#include "ServiceLink.h"
#include "UploadStore.h"
#include "tavsrv/Clock.h"
#include "tavsrv/Credential.h"
#include "tavsrv/Form.h"
#include "tavsrv/Log.h"
#include "tavsrv/Random.h"

namespace video {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// Largest body of the request that makes an upload (a form with the size and the tag).
constexpr size_t kMaxCreateBody = 8 * 1024;
// Socket deadlines: a request's head and each read or write of its body or answer.
constexpr time_t kIoTimeoutSeconds = 10;
// An idle kept-alive connection is closed after this (it holds an answering thread).
constexpr time_t kKeepAliveSeconds = 2;

void answer(httplib::Response& res, int status, int code, const std::string& msg,
            json body = json::object()) {
  res.status = status;
  // A body left unread must not be taken for the next request.
  if (status >= 400)
    res.set_header("Connection", "close");
  res.set_content(json{{"code", code}, {"msg", msg}, {"body", std::move(body)}}.dump(),
                  "application/json; charset=utf-8");
}

bool readNumber(std::string_view text, uint64_t* out) {
  if (text.empty() || text.size() > 19)
    return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

// "bytes A-B/SIZE" -> first, last, size.
bool parseContentRange(const std::string& text, uint64_t* first, uint64_t* last, uint64_t* size) {
  const std::string prefix = "bytes ";
  if (text.compare(0, prefix.size(), prefix) != 0)
    return false;
  const std::string rest = text.substr(prefix.size());
  const size_t dash = rest.find('-'), slash = rest.find('/');
  if (dash == std::string::npos || slash == std::string::npos || slash < dash)
    return false;
  return readNumber(std::string_view(rest).substr(0, dash), first) &&
         readNumber(std::string_view(rest).substr(dash + 1, slash - dash - 1), last) &&
         readNumber(std::string_view(rest).substr(slash + 1), size) && *first <= *last &&
         *last < *size;
}

json uploadJson(const Upload& u) {
  return json{{"id", u.id},
              {"offset", u.held},
              {"size", u.size},
              {"state", stateName(u.state)},
              {"coursewareId", u.coursewareId},
              {"message", u.message}};
}

// A stored rendition, streamed from disk: one byte range ("bytes=a-b", "bytes=a-",
// "bytes=-n") gets 206 with Content-Range, a range starting at or past the end 416,
// several ranges the whole file.
void serveFile(const fs::path& file, const httplib::Request& req, httplib::Response& res) {
  const httplib::Ranges ranges = req.ranges;
  // Applied here: cpp-httplib would not check them against the size.
  const_cast<httplib::Request&>(req).ranges.clear();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0)
      ::close(fd);
    answer(res, 404, 404, "not found");
    return;
  }
  auto handle = std::shared_ptr<int>(new int(fd), [](int* p) {
    ::close(*p);
    delete p;
  });
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  res.set_header("Accept-Ranges", "bytes");
  uint64_t first = 0, length = size;
  res.status = 200;
  if (ranges.size() == 1) {
    const auto [a, b] = ranges.front();
    if (a < 0) {
      length = std::min<uint64_t>(static_cast<uint64_t>(b), size);
      first = size - length;
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
    res.status = 206;
    res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                        std::to_string(first + length - 1) + "/" +
                                        std::to_string(size));
  }
  if (length == 0) {
    res.set_content(std::string(), "video/mp4");
    res.set_header("Content-Length", "0");
    return;
  }
  res.set_content_provider(static_cast<size_t>(length), "video/mp4",
                           [handle, first](size_t offset, size_t want, httplib::DataSink& sink) {
                             char buffer[64 * 1024];
                             want = std::min(want, sizeof buffer);
                             const ssize_t got =
                                 ::pread(*handle, buffer, want,
                                         static_cast<off_t>(first + static_cast<uint64_t>(offset)));
                             return got > 0 && sink.write(buffer, static_cast<size_t>(got));
                           });
}

}  // namespace

struct Server::Impl {
  explicit Impl(Config c)
      : config(std::move(c)),
        store(config.data_dir, StoreLimits{config.max_recording_bytes, config.max_open_uploads,
                                           config.max_open_uploads_per_user,
                                           std::chrono::duration_cast<std::chrono::milliseconds>(
                                               config.upload_lifetime)
                                               .count()}),
        service(config.service_url, config.internal_token),
        renderer(config, store, service, [this] { return publicUrl; }) {}

  // The credential of the request, when it names the teacher side of a room; otherwise
  // the refusal is answered and nothing.
  std::optional<tavsrv::Credential> teacherSide(const httplib::Request& req,
                                                httplib::Response& res) {
    const auto credential =
        tavsrv::verifyCredential(config.internal_token, req.get_header_value("X-Tav-Credential"),
                                 tavsrv::SystemClock().nowMs());
    if (!credential) {
      ++refused;
      answer(res, 401, 401, "请先登录！");
      return std::nullopt;
    }
    if (credential->roleCode != 1 && credential->roleCode != tavsrv::kAssistantRoleCode) {
      ++refused;
      answer(res, 403, 403, "没有权限！");
      return std::nullopt;
    }
    return credential;
  }

  // The upload the request names, when it is the credential's own.
  std::optional<Upload> ownUpload(const std::string& id, const tavsrv::Credential& credential,
                                  httplib::Response& res) {
    auto upload = store.get(id);
    if (!upload) {
      answer(res, 404, 404, "上传不存在！");
      return std::nullopt;
    }
    if (upload->tag.room != credential.room || upload->tag.user != credential.user) {
      ++refused;
      answer(res, 403, 403, "没有权限！");
      return std::nullopt;
    }
    return upload;
  }

  void create(const httplib::Request& req, httplib::Response& res,
              const httplib::ContentReader& reader) {
    const auto credential = teacherSide(req, res);
    if (!credential)
      return;
    uint64_t declared = 0;
    if (!readNumber(req.get_header_value("Content-Length"), &declared) ||
        declared > kMaxCreateBody) {
      ++refused;
      return answer(res, 413, 413, "请求过大！");
    }
    std::string body;
    reader([&](const char* data, size_t n) {
      if (body.size() + n > kMaxCreateBody)
        return false;
      body.append(data, n);
      return true;
    });
    std::string why;
    auto form = tavsrv::Form::parse(body, &why);
    if (!form)
      return answer(res, 400, 400, "请求格式错误！");
    uint64_t wanted = 0;
    const std::string* sizeText = form->find("size");
    if (sizeText && readNumber(*sizeText, &wanted) && wanted > config.max_recording_bytes) {
      ++refused;
      return answer(res, 413, 413, "录像过大！");
    }
    const int64_t size = form->integer("size", 1, static_cast<int64_t>(config.max_recording_bytes));
    const std::string desc = form->text("desc", kMaxTagBytes);
    if (!form->ok()) {
      ++refused;
      return answer(res, 400, 400, form->error());
    }
    const auto tag = parseDescriptionTag(desc, &why);
    if (!tag) {
      ++refused;
      tavsrv::logWarn("tav-video: refused an upload's description: " + why);
      return answer(res, 400, 400, "课件参数不合要求！");
    }
    // The tag speaks for the credential's own room and user, nobody else's.
    if (tag->room != credential->room || tag->user != credential->user) {
      ++refused;
      return answer(res, 403, 403, "没有权限！");
    }
    switch (service.nameState(tag->room, tag->name)) {
      case ServiceLink::Name::taken:
        ++refused;
        return answer(res, 409, 1, "已存在同名课件！");
      case ServiceLink::Name::unknown:
        return answer(res, 503, 503, "网络异常，请检查网络后重试！");
      case ServiceLink::Name::free:
        break;
    }
    UploadStore::CreateRefusal refusal;
    const auto upload =
        store.create(*tag, credential->roleCode, static_cast<uint64_t>(size), &refusal);
    if (!upload) {
      ++refused;
      if (refusal == UploadStore::CreateRefusal::storeFailed)
        return answer(res, 500, 500, "存储失败！");
      return answer(res, 429, 429, "上传过多，请稍后再试！");
    }
    ++created;
    tavsrv::logInfo("tav-video: upload " + upload->id + " of " + std::to_string(size) +
                    " bytes for room " + std::to_string(tag->room) + " by user " +
                    std::to_string(tag->user));
    answer(res, 200, 0, "", uploadJson(*upload));
  }

  void status(const httplib::Request& req, httplib::Response& res) {
    const auto credential = teacherSide(req, res);
    if (!credential)
      return;
    const auto upload = ownUpload(req.matches[1], *credential, res);
    if (upload)
      answer(res, 200, 0, "", uploadJson(*upload));
  }

  void piece(const httplib::Request& req, httplib::Response& res,
             const httplib::ContentReader& reader) {
    const auto credential = teacherSide(req, res);
    if (!credential)
      return;
    const std::string id = req.matches[1];
    const auto upload = ownUpload(id, *credential, res);
    if (!upload)
      return;
    uint64_t first = 0, last = 0, total = 0, declared = 0;
    if (!parseContentRange(req.get_header_value("Content-Range"), &first, &last, &total) ||
        total != upload->size || !readNumber(req.get_header_value("Content-Length"), &declared) ||
        declared != last - first + 1) {
      ++refused;
      return answer(res, 400, 400, "请求格式错误！", uploadJson(*upload));
    }
    if (declared > config.max_piece_bytes) {
      ++refused;
      return answer(res, 413, 413, "请求过大！", uploadJson(*upload));
    }
    int fd = -1;
    uint64_t held = 0;
    switch (store.beginWrite(id, first, declared, &fd, &held)) {
      case UploadStore::WriteRefusal::none:
        break;
      case UploadStore::WriteRefusal::unknown:
        return answer(res, 404, 404, "上传不存在！");
      case UploadStore::WriteRefusal::storeFailed:
        return answer(res, 500, 500, "存储失败！", uploadJson(*upload));
      case UploadStore::WriteRefusal::busy:
      case UploadStore::WriteRefusal::wrongOffset:
      case UploadStore::WriteRefusal::notReceiving:
      case UploadStore::WriteRefusal::tooLong: {
        ++refused;
        auto now = store.get(id);
        return answer(res, 409, 409, "偏移不符！", uploadJson(now ? *now : *upload));
      }
    }
    uint64_t written = 0;
    bool stored = true;
    reader([&](const char* data, size_t n) {
      size_t done = 0;
      while (done < n) {
        const ssize_t w =
            ::pwrite(fd, data + done, n - done, static_cast<off_t>(first + written + done));
        if (w <= 0) {
          stored = false;
          return false;
        }
        done += static_cast<size_t>(w);
      }
      written += n;
      return written <= declared;
    });
    // What arrived is kept, also when the connection broke off.
    const auto now = store.endWrite(id, fd, std::min(written, declared));
    if (!now)
      return answer(res, 404, 404, "上传不存在！");
    ++pieces;
    if (!stored)
      return answer(res, 500, 500, "存储失败！", uploadJson(*now));
    if (now->state == UploadState::rendering && upload->state == UploadState::receiving) {
      tavsrv::logInfo("tav-video: upload " + id + " complete, rendering");
      if (!renderer.enqueue(id))
        store.setState(id, UploadState::failed, "网络异常，请检查网络后重试！");
    }
    const auto after = store.get(id);
    answer(res, 200, 0, "", uploadJson(after ? *after : *now));
  }

  void file(const httplib::Request& req, httplib::Response& res) {
    uint64_t room = 0;
    const std::string id = req.matches[2];
    if (!readNumber(std::string(req.matches[1]), &room) || room == 0 || room > 0xffffffffULL ||
        !UploadStore::isId(id))
      return answer(res, 404, 404, "not found");
    serveFile(
        store.filesDir(static_cast<uint32_t>(room), id) / (std::string(req.matches[3]) + ".mp4"),
        req, res);
  }

  Config config;
  UploadStore store;
  ServiceLink service;
  Renderer renderer;
  httplib::Server http;
  std::thread listener;
  std::atomic<bool> listened{false};  // the listener returned
  std::string publicUrl;
  std::string error;
  uint16_t port = 0;
  bool running = false;
  std::atomic<uint64_t> created{0}, pieces{0}, refused{0};
};

Server::Server(Config config) : impl_(std::make_unique<Impl>(std::move(config))) {}

Server::~Server() {
  stop();
}

std::uint16_t Server::start() {
  Impl& m = *impl_;
  if (m.running)
    return m.port;
  tavsrv::initCrypto();
  if (m.config.internal_token.empty())
    tavsrv::logWarn(
        "tav-video: no --internal-token: every upload will be refused (no credential is "
        "believed)");
  std::vector<std::string> toRender;
  if (!m.store.open(&toRender, &m.error))
    return 0;
  httplib::Server& http = m.http;
  const size_t threads = m.config.threads;
  http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  http.set_read_timeout(kIoTimeoutSeconds, 0);
  http.set_write_timeout(kIoTimeoutSeconds, 0);
  http.set_keep_alive_timeout(kKeepAliveSeconds);
  http.set_payload_max_length(m.config.max_piece_bytes);
  http.Post("/video/uploads",
            [&m](const httplib::Request& req, httplib::Response& res,
                 const httplib::ContentReader& reader) { m.create(req, res, reader); });
  http.Get(R"(/video/uploads/([0-9a-f]{32}))",
           [&m](const httplib::Request& req, httplib::Response& res) { m.status(req, res); });
  http.Put(R"(/video/uploads/([0-9a-f]{32}))",
           [&m](const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader& reader) { m.piece(req, res, reader); });
  http.Get(R"(/video/files/([0-9]{1,10})/([0-9a-f]{32})/(OD|LD)\.mp4)",
           [&m](const httplib::Request& req, httplib::Response& res) { m.file(req, res); });
  const int bound =
      m.config.listen_port == 0
          ? http.bind_to_any_port(m.config.listen_host)
          : (http.bind_to_port(m.config.listen_host, m.config.listen_port) ? m.config.listen_port
                                                                           : -1);
  if (bound <= 0) {
    m.error =
        "cannot listen on " + m.config.listen_host + ":" + std::to_string(m.config.listen_port);
    return 0;
  }
  m.port = static_cast<uint16_t>(bound);
  m.publicUrl = m.config.public_url.empty()
                    ? "http://" + m.config.listen_host + ":" + std::to_string(m.port)
                    : m.config.public_url;
  while (!m.publicUrl.empty() && m.publicUrl.back() == '/')
    m.publicUrl.pop_back();
  m.renderer.start();
  for (const std::string& id : toRender)
    if (!m.renderer.enqueue(id))
      m.store.setState(id, UploadState::failed, "网络异常，请检查网络后重试！");
  m.listened = false;
  m.listener = std::thread([&m] {
    m.http.listen_after_bind();
    m.listened = true;
  });
  // Serving before start() returns: a stop() that came before the listener runs would be
  // missed by it, and the listener would never end.
  while (!http.is_running() && !m.listened)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  m.running = true;
  tavsrv::logInfo("tav-video: serving on " + m.config.listen_host + ":" + std::to_string(m.port) +
                  ", play addresses below " + m.publicUrl);
  return m.port;
}

void Server::stop() {
  Impl& m = *impl_;
  if (!m.running)
    return;
  m.running = false;
  m.http.stop();
  if (m.listener.joinable())
    m.listener.join();
  m.renderer.stop();
}

std::string Server::error() const {
  return impl_->error;
}

Stats Server::stats() const {
  Stats s;
  s.uploads_created = impl_->created;
  s.pieces_stored = impl_->pieces;
  s.published = impl_->renderer.published;
  s.failed = impl_->renderer.failed;
  s.refused = impl_->refused;
  return s;
}

}  // namespace video

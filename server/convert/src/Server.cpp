#include "convert/Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

#include "falco_wire.h"
#include "tavsrv/Credential.h"
#include "tavsrv/Log.h"
#include "tavsrv/Random.h"

namespace convert {

namespace fs = std::filesystem;
namespace wire = falco::wire;
using wire::ErrorCode;

namespace {

constexpr int kRoleTeacher = 1;

int64_t wall_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void set_timeout(int fd, int option, std::chrono::milliseconds ms) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(ms.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms.count() % 1000) * 1000);
  ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

bool send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The client sends nothing after its data, so anything readable on the socket (its
// end, an error, more bytes) means it is gone or broke the protocol: the job is cancelled.
bool client_gone(int fd) {
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  const int n = ::poll(&p, 1, 0);
  return n > 0 && (p.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR | POLLNVAL));
}

struct Session {
  int fd = -1;
  std::string peer;
  in_addr_t address = 0;
  std::uint64_t order = 0;  // of acceptance: the oldest pending of an address goes first
  std::thread thread;
  std::atomic<bool> finished{false};
  // Under the server's mutex:
  bool job = false;      // the submit's credential was believed: holds a job slot
  bool evicted = false;  // closed to make room for a newer connection of its address
  std::uint32_t user = 0;
};

}  // namespace

class Server::Impl {
public:
  explicit Impl(Config config) : config_(std::move(config)) {}

  std::uint16_t start();
  void stop();
  Stats stats() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Stats s = stats_;
    s.connections = 0;
    for (const auto& session : sessions_) {
      if (session->finished)
        continue;
      ++s.connections;
      s.pending += session->job ? 0 : 1;
    }
    s.converting = converting_;
    return s;
  }
  std::string error;

private:
  void accept_loop();
  void reap_finished();
  void run_session(Session& session);
  // The job of one connection; returns what to count it as.
  enum class End { completed, failed, cancelled };
  End serve(Session& session);
  // Under mutex_: whether a new connection from `address` may wait for its submit, closing
  // the oldest waiting one of that address when it has too many.
  bool admit_pending(in_addr_t address, const std::string& name);
  // Under mutex_: nullptr when the session may hold a job, else why not.
  const char* take_job_slot(Session& session, std::uint32_t user);
  bool acquire_converter(int fd, bool* gone);
  void release_converter();
  void count(End end);

  Config config_;
  fs::path jobs_dir_;
  int listen_fd_ = -1;
  std::thread accept_thread_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::condition_variable converter_free_;
  std::size_t converting_ = 0;
  std::list<std::unique_ptr<Session>> sessions_;
  std::uint64_t accepted_order_ = 0;
  Stats stats_;
};

std::uint16_t Server::Impl::start() {
  if (config_.internal_token.empty())
    tavsrv::logWarn("tav-convert: no internal token: every job will be refused");
  if (!config_.tools.sandbox) {
    tavsrv::logWarn(
        "tav-convert: --unsandboxed: documents are converted with this server's own rights "
        "and network (only LibreOffice's settings keep their linked content out)");
  } else if (const std::string problem = sandbox_problem(config_.tools); !problem.empty()) {
    tavsrv::logError("tav-convert: the converters' sandbox cannot be made (" + problem +
                     "): every job will be refused; --unsandboxed converts without it");
  } else {
    tavsrv::logInfo(
        "tav-convert: documents convert in a sandbox (no network, only the job's "
        "folder writable)");
  }
  if (!tavsrv::initCrypto()) {
    error = "cannot initialise libsodium";
    return 0;
  }
  std::error_code ec;
  jobs_dir_ = fs::absolute(fs::path(config_.data_dir) / "jobs", ec);
  // Whatever a killed server left behind is never read: start from an empty folder.
  fs::remove_all(jobs_dir_, ec);
  fs::create_directories(jobs_dir_, ec);
  if (ec) {
    error = "cannot make " + jobs_dir_.string() + ": " + ec.message();
    return 0;
  }
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return 0;
  }
  const int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(config_.listen_port);
  if (::inet_pton(AF_INET, config_.listen_host.c_str(), &addr.sin_addr) != 1) {
    error = "bad listen address " + config_.listen_host;
    ::close(listen_fd_);
    listen_fd_ = -1;
    return 0;
  }
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 64) != 0) {
    error = "cannot listen on " + config_.listen_host + ":" + std::to_string(config_.listen_port) +
            ": " + std::strerror(errno);
    ::close(listen_fd_);
    listen_fd_ = -1;
    return 0;
  }
  socklen_t len = sizeof addr;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  accept_thread_ = std::thread([this] { accept_loop(); });
  return ntohs(addr.sin_port);
}

void Server::Impl::stop() {
  if (stopping_.exchange(true))
    return;
  if (listen_fd_ >= 0)
    ::shutdown(listen_fd_, SHUT_RDWR);  // wakes accept()
  if (accept_thread_.joinable())
    accept_thread_.join();
  if (listen_fd_ >= 0)
    ::close(listen_fd_);
  listen_fd_ = -1;
  std::list<std::unique_ptr<Session>> sessions;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Blocked reads and sends return at once; running converters see stopping_.
    for (auto& session : sessions_)
      if (!session->finished)
        ::shutdown(session->fd, SHUT_RDWR);
    converter_free_.notify_all();
    sessions.swap(sessions_);
  }
  for (auto& session : sessions)
    if (session->thread.joinable())
      session->thread.join();
}

void Server::Impl::reap_finished() {
  std::list<std::unique_ptr<Session>> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if ((*it)->finished) {
        done.push_back(std::move(*it));
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& session : done)
    session->thread.join();
}

void Server::Impl::accept_loop() {
  while (!stopping_) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED)
        continue;
      if (errno == EMFILE || errno == ENFILE) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      break;  // shut down
    }
    reap_finished();
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    const std::string name = std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || !admit_pending(peer.sin_addr.s_addr, name)) {
      // Small enough for the socket's buffer: never blocks the accepting thread.
      send_all(fd, wire::encode_error(ErrorCode::busy, "too many connections"));
      ::close(fd);
      ++stats_.failed;
      tavsrv::logWarn("tav-convert: " + name + " refused: too many connections");
      continue;
    }
    auto session = std::make_unique<Session>();
    session->fd = fd;
    session->peer = name;
    session->address = peer.sin_addr.s_addr;
    session->order = ++accepted_order_;
    Session* raw = session.get();
    sessions_.push_back(std::move(session));
    raw->thread = std::thread([this, raw] { run_session(*raw); });
  }
}

bool Server::Impl::admit_pending(in_addr_t address, const std::string& name) {
  std::size_t pending = 0, from_address = 0;
  Session* oldest = nullptr;
  for (auto& session : sessions_) {
    if (session->finished || session->job || session->evicted)
      continue;
    ++pending;
    if (session->address != address)
      continue;
    ++from_address;
    if (!oldest || session->order < oldest->order)
      oldest = session.get();
  }
  if (oldest && from_address >= config_.max_pending_per_address) {
    // Its thread sees the end of its socket and finishes; the descriptor is closed there.
    const std::string busy = wire::encode_error(ErrorCode::busy, "too many connections waiting");
    (void)!::send(oldest->fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(oldest->fd, SHUT_RDWR);
    oldest->evicted = true;
    ++stats_.failed;
    tavsrv::logWarn("tav-convert: " + oldest->peer +
                    " closed without a submit: a newer connection " + name +
                    " of its address waits");
    return true;
  }
  return pending < config_.max_pending;
}

const char* Server::Impl::take_job_slot(Session& session, std::uint32_t user) {
  if (session.evicted)
    return "closed";
  std::size_t jobs = 0, of_user = 0;
  for (const auto& other : sessions_) {
    if (other->finished || !other->job)
      continue;
    ++jobs;
    of_user += other->user == user ? 1 : 0;
  }
  if (jobs >= config_.max_connections)
    return "too many jobs";
  if (of_user >= config_.max_jobs_per_user)
    return "too many jobs of this user";
  session.job = true;
  session.user = user;
  return nullptr;
}

void Server::Impl::count(End end) {
  std::lock_guard<std::mutex> lock(mutex_);
  switch (end) {
    case End::completed:
      ++stats_.completed;
      break;
    case End::failed:
      ++stats_.failed;
      break;
    case End::cancelled:
      ++stats_.cancelled;
      break;
  }
}

void Server::Impl::run_session(Session& session) {
  const End end = serve(session);
  bool evicted = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    evicted = session.evicted;
  }
  if (!evicted)  // counted when it was closed
    count(end);
  {
    // Under the lock, so stop() never shuts down a descriptor number already reused.
    std::lock_guard<std::mutex> lock(mutex_);
    ::close(session.fd);
    session.finished = true;
  }
}

bool Server::Impl::acquire_converter(int fd, bool* gone) {
  auto next_keepalive = std::chrono::steady_clock::now() + config_.keepalive;
  std::unique_lock<std::mutex> lock(mutex_);
  while (converting_ >= config_.max_jobs) {
    if (stopping_)
      return false;
    converter_free_.wait_for(lock, std::chrono::milliseconds(50));
    if (client_gone(fd)) {
      *gone = true;
      return false;
    }
    if (std::chrono::steady_clock::now() >= next_keepalive) {
      next_keepalive += config_.keepalive;
      lock.unlock();
      const bool sent = send_all(fd, wire::encode_working(wire::Stage::waiting));
      lock.lock();
      if (!sent) {
        *gone = true;
        return false;
      }
    }
  }
  if (stopping_)
    return false;
  ++converting_;
  return true;
}

void Server::Impl::release_converter() {
  std::lock_guard<std::mutex> lock(mutex_);
  --converting_;
  converter_free_.notify_one();
}

Server::Impl::End Server::Impl::serve(Session& session) {
  const int fd = session.fd;
  const std::string& peer = session.peer;
  const auto refuse = [&](ErrorCode code, const std::string& why) {
    tavsrv::logInfo("tav-convert: " + peer + " " + wire::to_string(code) + ": " + why);
    send_all(fd, wire::encode_error(code, why));
    return End::failed;
  };

  // Frames arrive into `buffer`; `frames` point into it until it is trimmed.
  std::string buffer;
  std::vector<wire::Frame> frames;
  size_t taken = 0;  // frames handed out so far
  // Until the submit is taken, reads end at this deadline however the bytes trickle in.
  std::optional<std::chrono::steady_clock::time_point> deadline =
      std::chrono::steady_clock::now() + config_.submit_timeout;
  bool late = false;
  const auto next_frame = [&](wire::Frame* frame, ErrorCode* fault) -> bool {
    for (;;) {
      if (taken < frames.size()) {
        *frame = frames[taken++];
        return true;
      }
      // Every frame handed out was used: drop their bytes before reading more.
      size_t used = 0;
      for (const auto& f : frames)
        used += wire::kHeaderSize + f.payload.size();
      buffer.erase(0, used);
      frames.clear();
      taken = 0;
      const auto decoded = wire::decode_frames(buffer, wire::kMaxClientFrame, frames);
      if (decoded.status != wire::DecodeStatus::ok) {
        *fault = ErrorCode::protocol;
        return false;
      }
      if (!frames.empty())
        continue;
      if (deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            *deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count()) + 1) : 0;
        if (ready < 0 && errno == EINTR)
          continue;
        if (ready == 0) {
          late = true;
          *fault = ErrorCode::protocol;
          return false;
        }
      }
      char chunk[64 * 1024];
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0) {
        *fault = ErrorCode::internal;  // gone or silent too long: nothing to answer
        return false;
      }
      buffer.append(chunk, static_cast<size_t>(n));
    }
  };

  set_timeout(fd, SO_SNDTIMEO, config_.io_timeout);
  wire::Frame frame{};
  ErrorCode fault = ErrorCode::internal;
  if (!next_frame(&frame, &fault)) {
    if (late)
      return refuse(ErrorCode::protocol,
                    "no submit within " + std::to_string(config_.submit_timeout.count()) + " ms");
    return fault == ErrorCode::protocol ? refuse(fault, "bad frame") : End::cancelled;
  }
  deadline.reset();
  if (frame.type != wire::FrameType::submit)
    return refuse(ErrorCode::protocol, "the first frame is not a submit");
  const auto submit = wire::decode_submit(frame.payload);
  if (!submit)
    return refuse(ErrorCode::protocol, "malformed submit");
  if (submit->version != wire::kProtocolVersion)
    return refuse(ErrorCode::version, "version " + std::to_string(submit->version));
  const std::string who =
      "user " + std::to_string(submit->user_id) + " room " + std::to_string(submit->room_id);
  const auto credential =
      tavsrv::verifyCredential(config_.internal_token, submit->credential, wall_ms());
  if (!credential || credential->user != submit->user_id || credential->room != submit->room_id)
    return refuse(ErrorCode::credential_refused, who);
  if (credential->roleCode != kRoleTeacher)
    return refuse(ErrorCode::not_allowed, who + " role " + std::to_string(credential->roleCode));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const char* why = take_job_slot(session, submit->user_id))
      return session.evicted ? End::failed : refuse(ErrorCode::busy, who + ": " + why);
  }
  if (submit->size > config_.limits.max_bytes)
    return refuse(ErrorCode::too_large, who + ": " + std::to_string(submit->size) + " bytes");
  const std::string ext = document_extension(std::string(submit->name));
  if (ext.empty())
    return refuse(ErrorCode::unsupported, who + ": not a document type converted here");
  const uint64_t size = submit->size;

  // The upload is stored under the job's own name; the client's name is never used.
  std::error_code ec;
  const fs::path work = jobs_dir_ / tavsrv::randomHex(8);
  fs::create_directories(work, ec);
  struct Cleanup {
    fs::path dir;
    ~Cleanup() {
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  } cleanup{work};
  if (ec)
    return refuse(ErrorCode::internal, "cannot make the job folder");
  const fs::path input = work / ("input." + ext);
  {
    std::ofstream out(input, std::ios::binary);
    if (!out)
      return refuse(ErrorCode::internal, "cannot store the upload");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++stats_.accepted;
    }
    if (!send_all(fd, wire::encode_accepted()))
      return End::cancelled;
    set_timeout(fd, SO_RCVTIMEO, config_.io_timeout);
    uint64_t received = 0;
    while (received < size) {
      if (!next_frame(&frame, &fault))
        return fault == ErrorCode::protocol ? refuse(fault, "bad frame") : End::cancelled;
      if (frame.type != wire::FrameType::data || frame.payload.empty() ||
          frame.payload.size() > size - received)
        return refuse(ErrorCode::protocol, "unexpected frame during the upload");
      out.write(frame.payload.data(), static_cast<std::streamsize>(frame.payload.size()));
      received += frame.payload.size();
    }
    out.close();
    if (!out)
      return refuse(ErrorCode::internal, "cannot store the upload");
  }
  if (taken < frames.size())
    return refuse(ErrorCode::protocol, "frames after the data");

  bool gone = false;
  if (!acquire_converter(fd, &gone)) {
    if (!gone)
      send_all(fd, wire::encode_error(ErrorCode::shutting_down, "stopping"));
    return End::cancelled;
  }
  struct Slot {
    Impl* impl;
    ~Slot() { impl->release_converter(); }
  } slot{this};

  tavsrv::logInfo("tav-convert: " + peer + " " + who + ": converting " + std::to_string(size) +
                  " bytes of ." + ext);
  auto next_keepalive = std::chrono::steady_clock::now() + config_.keepalive;
  wire::Stage stage = wire::Stage::converting;
  bool lost = false;
  JobCallbacks callbacks;
  callbacks.keep_going = [&] {
    if (stopping_ || client_gone(fd))
      return false;
    if (std::chrono::steady_clock::now() >= next_keepalive) {
      next_keepalive = std::chrono::steady_clock::now() + config_.keepalive;
      if (!send_all(fd, wire::encode_working(stage))) {
        lost = true;
        return false;
      }
    }
    return true;
  };
  callbacks.on_stage = [&](wire::Stage s) { stage = s; };
  callbacks.on_page = [&](uint32_t index, uint32_t total, const std::string& png_path) {
    std::ifstream in(png_path, std::ios::binary);
    const std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (png.empty() || stopping_)
      return false;
    return send_all(fd, wire::encode_page(wire::Page{index, total, png}));
  };
  const JobOutcome outcome = convert_document(input.string(), ext, work.string(), config_.limits,
                                              config_.tools, callbacks);
  if (outcome.cancelled || lost) {
    tavsrv::logInfo("tav-convert: " + peer + " " + who + ": cancelled (" +
                    (stopping_ ? "stopping" : "client gone") + ")");
    if (stopping_)
      send_all(fd, wire::encode_error(ErrorCode::shutting_down, "stopping"));
    return End::cancelled;
  }
  if (!outcome.ok)
    return refuse(outcome.code, who + ": " + outcome.reason);
  tavsrv::logInfo("tav-convert: " + peer + " " + who + ": " + std::to_string(outcome.pages) +
                  " pages sent");
  return send_all(fd, wire::encode_done(outcome.pages)) ? End::completed : End::cancelled;
}

Server::Server(Config config) : impl_(std::make_unique<Impl>(std::move(config))) {}
Server::~Server() {
  stop();
}
std::uint16_t Server::start() {
  return impl_->start();
}
void Server::stop() {
  impl_->stop();
}
std::string Server::error() const {
  return impl_->error;
}
Stats Server::stats() const {
  return impl_->stats();
}

}  // namespace convert

#include "UploadStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tavsrv/Clock.h"
#include "tavsrv/Log.h"
#include "tavsrv/Random.h"

namespace video {

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

int64_t nowMs() {
  return tavsrv::SystemClock().nowMs();
}

bool syncedWrite(const fs::path& path, const std::string& text) {
  const fs::path temp = path.string() + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0)
    return false;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) {
      ::close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  std::error_code ec;
  if (ok)
    fs::rename(temp, path, ec);
  return ok && !ec;
}

UploadState stateOf(const std::string& name) {
  if (name == "rendering")
    return UploadState::rendering;
  if (name == "published")
    return UploadState::published;
  if (name == "failed")
    return UploadState::failed;
  return UploadState::receiving;
}

}  // namespace

const char* stateName(UploadState state) {
  switch (state) {
    case UploadState::receiving:
      return "receiving";
    case UploadState::rendering:
      return "rendering";
    case UploadState::published:
      return "published";
    case UploadState::failed:
      return "failed";
  }
  return "failed";
}

UploadStore::UploadStore(fs::path root, StoreLimits limits)
    : root_(std::move(root)), limits_(limits) {}

bool UploadStore::isId(const std::string& text) {
  if (text.size() != 32)
    return false;
  for (const char ch : text)
    if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f')))
      return false;
  return true;
}

fs::path UploadStore::bytesPath(const std::string& id) const {
  return root_ / "uploads" / id / "bytes";
}
fs::path UploadStore::workDir(const std::string& id) const {
  return root_ / "work" / id;
}
fs::path UploadStore::filesDir(uint32_t room, const std::string& id) const {
  return root_ / "files" / std::to_string(room) / id;
}

bool UploadStore::open(std::vector<std::string>* toRender, std::string* error) {
  std::error_code ec;
  for (const char* dir : {"uploads", "files", "work"}) {
    fs::create_directories(root_ / dir, ec);
    if (ec) {
      *error = "cannot make " + (root_ / dir).string() + ": " + ec.message();
      return false;
    }
  }
  // Renditions being made when the last run ended are made again.
  fs::remove_all(root_ / "work", ec);
  fs::create_directories(root_ / "work", ec);
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : fs::directory_iterator(root_ / "uploads", ec)) {
    const std::string id = entry.path().filename().string();
    std::ifstream in(entry.path() / "meta.json");
    std::stringstream text;
    text << in.rdbuf();
    const json meta = json::parse(text.str(), nullptr, false);
    std::string why;
    std::optional<DescriptionTag> tag;
    if (isId(id) && meta.is_object() && meta.contains("tag") && meta["tag"].is_string())
      tag = parseDescriptionTag(meta["tag"].get<std::string>(), &why);
    if (!tag) {
      fs::remove_all(entry.path(), ec);
      continue;
    }
    Upload u;
    u.id = id;
    u.tag = *tag;
    u.role = meta.value("role", 0);
    u.size = meta.value("size", uint64_t{0});
    u.state = stateOf(meta.value("state", ""));
    u.message = meta.value("message", "");
    u.coursewareId = meta.value("coursewareId", int64_t{0});
    u.touchedMs = meta.value("touchedMs", int64_t{0});
    const auto bytes = fs::file_size(bytesPath(id), ec);
    u.held = ec ? 0 : std::min<uint64_t>(bytes, u.size);
    if (u.state == UploadState::receiving && u.held == u.size)
      u.state = UploadState::rendering;
    if (u.state == UploadState::rendering)
      toRender->push_back(id);
    uploads_[id] = u;
  }
  lastSweepMs_ = 0;
  return true;
}

size_t UploadStore::openCount(uint32_t user) const {
  size_t count = 0;
  for (const auto& [id, u] : uploads_)
    if ((u.state == UploadState::receiving || u.state == UploadState::rendering) &&
        (user == 0 || u.tag.user == user))
      ++count;
  return count;
}

std::optional<Upload> UploadStore::create(const DescriptionTag& tag, int role, uint64_t size,
                                          CreateRefusal* refusal) {
  *refusal = CreateRefusal::none;
  if (size == 0 || size > limits_.max_bytes) {
    *refusal = CreateRefusal::tooLarge;
    return std::nullopt;
  }
  sweep();
  std::lock_guard<std::mutex> lock(mutex_);
  if (openCount(0) >= limits_.max_open) {
    *refusal = CreateRefusal::tooMany;
    return std::nullopt;
  }
  if (openCount(tag.user) >= limits_.max_open_per_user) {
    *refusal = CreateRefusal::tooManyForUser;
    return std::nullopt;
  }
  Upload u;
  u.id = tavsrv::randomHex(16);
  u.tag = tag;
  u.role = role;
  u.size = size;
  u.touchedMs = nowMs();
  std::error_code ec;
  fs::create_directories(root_ / "uploads" / u.id, ec);
  const int fd =
      ec ? -1 : ::open(bytesPath(u.id).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0)
    ::close(fd);
  if (fd < 0 || !save(u)) {
    fs::remove_all(root_ / "uploads" / u.id, ec);
    *refusal = CreateRefusal::storeFailed;
    return std::nullopt;
  }
  uploads_[u.id] = u;
  return u;
}

std::optional<Upload> UploadStore::get(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = uploads_.find(id);
  if (it == uploads_.end())
    return std::nullopt;
  return it->second;
}

UploadStore::WriteRefusal UploadStore::beginWrite(const std::string& id, uint64_t offset,
                                                  uint64_t length, int* fd, uint64_t* held) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = uploads_.find(id);
  if (it == uploads_.end())
    return WriteRefusal::unknown;
  Upload& u = it->second;
  *held = u.held;
  if (u.state != UploadState::receiving)
    return WriteRefusal::notReceiving;
  if (writing_[id])
    return WriteRefusal::busy;
  if (offset != u.held)
    return WriteRefusal::wrongOffset;
  if (length > u.size - u.held)
    return WriteRefusal::tooLong;
  *fd = ::open(bytesPath(id).c_str(), O_WRONLY | O_CLOEXEC);
  // Bytes past what was acknowledged (a write that broke off before its sync) go.
  if (*fd < 0 || ::ftruncate(*fd, static_cast<off_t>(u.held)) != 0) {
    if (*fd >= 0)
      ::close(*fd);
    return WriteRefusal::storeFailed;
  }
  writing_[id] = true;
  return WriteRefusal::none;
}

std::optional<Upload> UploadStore::endWrite(const std::string& id, int fd, uint64_t written) {
  const bool synced = written == 0 || ::fdatasync(fd) == 0;
  ::close(fd);
  std::lock_guard<std::mutex> lock(mutex_);
  writing_.erase(id);
  const auto it = uploads_.find(id);
  if (it == uploads_.end())
    return std::nullopt;
  Upload& u = it->second;
  if (synced && written > 0) {
    u.held = std::min(u.size, u.held + written);
    u.touchedMs = nowMs();
    if (u.held == u.size)
      u.state = UploadState::rendering;
    if (!save(u))
      tavsrv::logWarn("tav-video: cannot write the record of upload " + id);
  }
  return u;
}

void UploadStore::setState(const std::string& id, UploadState state, const std::string& message,
                           int64_t coursewareId) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = uploads_.find(id);
  if (it == uploads_.end())
    return;
  Upload& u = it->second;
  u.state = state;
  u.message = message;
  u.coursewareId = coursewareId;
  u.touchedMs = nowMs();
  save(u);
  // What was uploaded is not kept once it has renditions or has failed.
  if (state == UploadState::published || state == UploadState::failed) {
    std::error_code ec;
    fs::remove(bytesPath(id), ec);
  }
}

void UploadStore::sweep() {
  std::lock_guard<std::mutex> lock(mutex_);
  const int64_t now = nowMs();
  if (now - lastSweepMs_ < 60 * 1000)
    return;
  lastSweepMs_ = now;
  std::vector<std::string> expired;
  for (const auto& [id, u] : uploads_)
    if (u.state != UploadState::rendering && !writing_[id] &&
        now - u.touchedMs > limits_.lifetime_ms)
      expired.push_back(id);
  for (const std::string& id : expired)
    remove(id, false);
}

bool UploadStore::save(const Upload& u) {
  std::ostringstream tag;
  tag << "roomId=" << u.tag.room << ",globalId=" << u.tag.user << ",coursewareName=" << u.tag.name
      << ",price=" << u.tag.price << ",description=" << u.tag.description
      << ",grade=" << u.tag.grade;
  const json meta = {{"tag", tag.str()},        {"role", u.role},
                     {"size", u.size},          {"state", stateName(u.state)},
                     {"message", u.message},    {"coursewareId", u.coursewareId},
                     {"touchedMs", u.touchedMs}};
  return syncedWrite(root_ / "uploads" / u.id / "meta.json", meta.dump());
}

void UploadStore::remove(const std::string& id, bool withFiles) {
  const auto it = uploads_.find(id);
  if (it == uploads_.end())
    return;
  std::error_code ec;
  if (withFiles)
    fs::remove_all(filesDir(it->second.tag.room, id), ec);
  fs::remove_all(root_ / "uploads" / id, ec);
  uploads_.erase(it);
  writing_.erase(id);
}

}  // namespace video

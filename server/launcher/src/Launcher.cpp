#include "Launcher.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include <cctype>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "RoleRegistry.h"
#include "tavsrv/Answer.h"
#include "tavsrv/Descriptors.h"
#include "tavsrv/Log.h"
#include "tavsrv/Random.h"

namespace fs = std::filesystem;

namespace tavlaunch {

bool parseRoleList(const std::string& text, std::vector<std::string>* roles, std::string* error) {
  roles->clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos)
      end = text.size();
    const std::string name = text.substr(start, end - start);
    if (name.empty()) {
      *error = "empty role name in --roles " + text;
      return false;
    }
    roles->push_back(name);
    start = end + 1;
  }
  return true;
}

namespace {
constexpr size_t kKeyBytes = 32;

bool isHexKey(const std::string& text) {
  if (text.size() != kKeyBytes * 2)
    return false;
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      return false;
  return true;
}
}  // namespace

std::optional<std::string> loadInternalKey(const std::string& dataDir, bool rotate,
                                           std::string* error, std::string* note) {
  const std::string path = (fs::path(dataDir) / "internal.key").string();
  if (!rotate) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
      struct stat st {};
      std::string text(kKeyBytes * 2 + 2, '\0');
      const bool statted = ::fstat(fd, &st) == 0;
      const ssize_t got = ::read(fd, text.data(), text.size());
      ::close(fd);
      if (!statted || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        *error = path + " is not a file of this user";
        return std::nullopt;
      }
      if ((st.st_mode & 077) != 0) {
        *error = path +
                 " is readable by others; its credentials may be forged. Start once "
                 "with --rotate-internal-key to replace it";
        return std::nullopt;
      }
      text.resize(got > 0 ? static_cast<size_t>(got) : 0);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
      if (!isHexKey(text)) {
        *error = path + " does not hold a key (" + std::to_string(kKeyBytes * 2) +
                 " hex digits); start with --rotate-internal-key to make a new one";
        return std::nullopt;
      }
      return text;
    }
    if (errno != ENOENT) {
      *error = "cannot read " + path + ": " + std::strerror(errno);
      return std::nullopt;
    }
  }
  // A new key, written beside and renamed over, so a crash leaves the old one or the new one.
  const std::string key = tavsrv::randomHex(kKeyBytes);
  const std::string temp = path + ".tmp";
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  const std::string line = key + "\n";
  const bool written = fd >= 0 &&
                       ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
                       ::fsync(fd) == 0;
  if (fd >= 0)
    ::close(fd);
  if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return std::nullopt;
  }
  *note = rotate ? "internal key rotated: credentials issued before no longer hold"
                 : "internal key made in " + path;
  return key;
}

Launcher::~Launcher() {
  stop();
}

bool Launcher::lockDataDir(const std::string& dataDir, std::string* error) {
  const std::string path = (fs::path(dataDir) / ".tav-server.lock").string();
  lockFd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    *error = "the data folder " + dataDir + " is in use by another tav-server";
    if (lockFd_ >= 0)
      ::close(lockFd_);
    lockFd_ = -1;
    return false;
  }
  return true;
}

bool Launcher::start(const LaunchOptions& options, std::string* error,
                     std::vector<std::string>* notes) {
  // Which roles: the named ones (each must exist and be built), or all that are built.
  std::vector<const RoleEntry*> chosen;
  if (options.roles.empty()) {
    for (const auto& role : knownRoles()) {
      if (role.make)
        chosen.push_back(&role);
      else
        notes->push_back(role.name + " (" + role.what + "): not part of this build, skipped");
    }
  } else {
    for (const auto& entry : knownRoles()) {
      for (const auto& name : options.roles) {
        if (name != entry.name)
          continue;
        if (!entry.make) {
          *error = "role " + name + " (" + entry.what + ") is not part of this build";
          return false;
        }
        chosen.push_back(&entry);
        break;
      }
    }
    for (const auto& name : options.roles) {
      if (!findRole(name)) {
        std::string known;
        for (const auto& role : knownRoles())
          known += (known.empty() ? "" : ", ") + role.name;
        *error = "unknown role " + name + " (known: " + known + ")";
        return false;
      }
    }
  }
  if (chosen.empty()) {
    *error = "no role to start";
    return false;
  }

  std::error_code ec;
  fs::create_directories(options.dataDir, ec);
  if (ec) {
    *error = "cannot create " + options.dataDir + ": " + ec.message();
    return false;
  }
  if (!lockDataDir(options.dataDir, error))
    return false;
  if (!tavsrv::initCrypto()) {
    *error = "libsodium cannot be initialised";
    return false;
  }

  std::string keyNote;
  const std::optional<std::string> key =
      loadInternalKey(options.dataDir, options.rotateInternalKey, error, &keyNote);
  if (!key) {
    stop();
    return false;
  }
  if (!keyNote.empty())
    notes->push_back(keyNote);

  tavsrv::RoleSettings settings;
  settings.dataDir = options.dataDir;
  settings.internalToken = *key;
  settings.seedDemo = options.seedDemo;
  settings.demoMedia = options.demoMedia;
  // Every role learns every planned address, including roles that do not run here.
  for (const auto& role : knownRoles())
    settings.endpoints[role.name] =
        tavsrv::HostPort{options.host, tavsrv::defaultPort(role.port, options.portBase)};

  // One process, one descriptor limit: the roles that take connections each
  // keep to their share, so a flood at one cannot stall the others.
  const tavsrv::DescriptorBudget budget = tavsrv::shareDescriptors(tavsrv::descriptorLimit());
  for (const RoleEntry* entry : chosen) {
    std::unique_ptr<tavsrv::Role> role = entry->make();
    tavsrv::RoleSettings own = settings;
    if (entry->name == "service")
      own.maxConnections = budget.service;
    else if (entry->name == "msg")
      own.maxConnections = budget.msg;
    std::string why;
    if (!role->start(own, &why)) {
      *error = "cannot start " + entry->name + ": " + why;
      stop();
      return false;
    }
    running_.push_back(Running{entry->name, role->endpoint()});
    roles_.push_back(std::move(role));
  }
  endpointsFile_ = (fs::path(options.dataDir) / "endpoints.json").string();
  if (!writeEndpoints(error)) {
    stop();
    return false;
  }
  return true;
}

bool Launcher::writeEndpoints(std::string* error) {
  tavsrv::json endpoints = tavsrv::json::object();
  for (const auto& role : running_)
    endpoints[role.name] = {{"host", role.endpoint.host}, {"port", role.endpoint.port}};
  const std::string temp = endpointsFile_ + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << endpoints.dump(2) << "\n";
    if (!out) {
      *error = "cannot write " + temp;
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, endpointsFile_, ec);
  if (ec) {
    *error = "cannot write " + endpointsFile_ + ": " + ec.message();
    return false;
  }
  return true;
}

std::vector<std::string> Launcher::banner() const {
  std::vector<std::string> lines;
  for (const auto& role : roles_)
    for (const auto& line : role->banner())
      lines.push_back(line);
  return lines;
}

void Launcher::stop() {
  while (!roles_.empty()) {
    roles_.back()->stop();
    roles_.pop_back();
  }
  running_.clear();
  if (!endpointsFile_.empty()) {
    std::error_code ec;
    fs::remove(endpointsFile_, ec);  // the addresses are no longer served
    endpointsFile_.clear();
  }
  if (lockFd_ >= 0) {
    ::close(lockFd_);
    lockFd_ = -1;
  }
}

}  // namespace tavlaunch

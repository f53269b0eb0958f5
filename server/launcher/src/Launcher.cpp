#include "Launcher.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <fstream>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "RoleRegistry.h"
#include "tavsrv/Answer.h"
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

  tavsrv::RoleSettings settings;
  settings.dataDir = options.dataDir;
  settings.internalToken = tavsrv::randomHex(16);
  settings.seedDemo = options.seedDemo;
  settings.demoMedia = options.demoMedia;
  // Every role learns every planned address, including roles that do not run here.
  for (const auto& role : knownRoles())
    settings.endpoints[role.name] =
        tavsrv::HostPort{options.host, tavsrv::defaultPort(role.port, options.portBase)};

  for (const RoleEntry* entry : chosen) {
    std::unique_ptr<tavsrv::Role> role = entry->make();
    std::string why;
    if (!role->start(settings, &why)) {
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

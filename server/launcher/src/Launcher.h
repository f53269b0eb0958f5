// Starts a set of server roles on one host with ports from a base, writes their
// addresses to DATA/endpoints.json and stops them again in reverse order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tavsrv/HostPort.h"
#include "tavsrv/Role.h"

namespace tavlaunch {

struct LaunchOptions {
  std::string dataDir;
  std::string host = tavsrv::kLoopback;
  int portBase = tavsrv::kDefaultPortBase;
  // Role names to start; empty: every role this build has.
  std::vector<std::string> roles;
  bool seedDemo = true;
  bool demoMedia = true;
};

// Splits "service,msg" into names; false with *error on an empty name.
bool parseRoleList(const std::string& text, std::vector<std::string>* roles, std::string* error);

class Launcher {
public:
  Launcher() = default;
  ~Launcher();
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;

  // False with *error (and nothing left running) when a role is unknown, not in
  // this build, or fails to start. *notes collects what the caller should print.
  bool start(const LaunchOptions& options, std::string* error, std::vector<std::string>* notes);
  void stop();

  struct Running {
    std::string name;
    tavsrv::HostPort endpoint;
  };
  const std::vector<Running>& running() const { return running_; }
  // Banner lines of the running roles (accounts and hints).
  std::vector<std::string> banner() const;
  const std::string& endpointsFile() const { return endpointsFile_; }

private:
  bool lockDataDir(const std::string& dataDir, std::string* error);
  bool writeEndpoints(std::string* error);

  std::vector<std::unique_ptr<tavsrv::Role>> roles_;
  std::vector<Running> running_;
  std::string endpointsFile_;
  int lockFd_ = -1;
};

}  // namespace tavlaunch

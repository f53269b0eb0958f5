// Starts a set of server roles on one host with ports from a base, writes their
// addresses to DATA/endpoints.json and stops them again in reverse order.
#pragma once

#include <memory>
#include <optional>
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
  // Replace the internal key in the data folder with a new one: every credential
  // issued under the old key stops being believed.
  bool rotateInternalKey = false;
};

// The secret the roles sign and check credentials with, kept in DATA/internal.key
// (owner-only) so a restart keeps every credential issued before it valid. Made
// when there is none or when rotate is set (*note says so); a key file that is
// malformed or readable by others is refused, never silently replaced.
std::optional<std::string> loadInternalKey(const std::string& dataDir, bool rotate,
                                           std::string* error, std::string* note);

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

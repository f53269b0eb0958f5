#include "platform/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>

namespace platform {
namespace {

std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file name a process was started from. /proc/<pid>/exe is authoritative
// (comm is cut at 15 characters), but only readable for our own processes; for
// others argv[0] is the best there is.
std::string processExeName(pid_t pid) {
  const std::string dir = "/proc/" + std::to_string(pid);
  char target[PATH_MAX];
  const ssize_t n = readlink((dir + "/exe").c_str(), target, sizeof target);
  if (n > 0) {
    std::string name = baseName(std::string(target, static_cast<size_t>(n)));
    // An updater replaces the binary under a running copy.
    static const std::string kDeleted = " (deleted)";
    if (name.size() > kDeleted.size() &&
        name.compare(name.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
      name.resize(name.size() - kDeleted.size());
    return name;
  }

  std::ifstream cmdline(dir + "/cmdline", std::ios::binary);
  std::string argv0;
  std::getline(cmdline, argv0, '\0');  // Empty for kernel threads and zombies.
  return baseName(argv0);
}

}  // namespace

int terminateProcessByName(const std::string& exeName) {
  DIR* proc = opendir("/proc");
  if (!proc)
    return -1;
  std::vector<pid_t> pids;
  while (dirent* entry = readdir(proc)) {
    const char* name = entry->d_name;
    if (*name < '1' || *name > '9')
      continue;
    char* end = nullptr;
    const long pid = std::strtol(name, &end, 10);
    if (*end == '\0' && pid > 0 && pid <= INT_MAX)
      pids.push_back(static_cast<pid_t>(pid));
  }
  closedir(proc);
  if (pids.empty())
    return -1;  // A mounted /proc always lists at least ourselves.

  // readdir order is arbitrary; scan oldest-numbered first so "first" is stable.
  std::sort(pids.begin(), pids.end());
  const pid_t self = getpid();
  for (pid_t pid : pids) {
    if (pid == self || exeName.empty())
      continue;
    if (processExeName(pid) != exeName)
      continue;
    if (kill(pid, SIGKILL) == 0)
      return 0;
    // Gone between the scan and the kill: it is terminated all the same.
    return errno == ESRCH ? 0 : -1;
  }
  return 0;
}

}  // namespace platform

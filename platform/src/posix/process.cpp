#include "platform/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

namespace platform {
namespace {

// The program file a process runs, as /proc/<pid>/exe names it; empty when
// it cannot be read (another user's process, a kernel thread, gone). A file
// replaced under the running process (an update) reads as its old path.
std::string programOf(pid_t pid) {
  char target[PATH_MAX];
  const ssize_t n =
      readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target);
  if (n <= 0)
    return {};
  std::string path(target, static_cast<size_t>(n));
  static const std::string kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() &&
      path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
    path.resize(path.size() - kDeleted.size());
  return path;
}

bool ownedByUs(pid_t pid) {
  struct stat info {};
  return stat(("/proc/" + std::to_string(pid)).c_str(), &info) == 0 && info.st_uid == getuid();
}

// Running (a zombie is done: it only waits for its parent).
bool running(pid_t pid) {
  if (kill(pid, 0) != 0)
    return false;
  char state = 0;
  if (FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r")) {
    // "pid (comm) state ...": the state follows the last ')'.
    char line[512] = {};
    const size_t n = std::fread(line, 1, sizeof line - 1, stat);
    std::fclose(stat);
    const std::string text(line, n);
    const size_t close = text.rfind(')');
    if (close != std::string::npos && close + 2 < text.size())
      state = text[close + 2];
  }
  return state != 'Z' && state != 'X';
}

std::optional<std::vector<pid_t>> allProcesses() {
  DIR* proc = opendir("/proc");
  if (!proc)
    return std::nullopt;
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
    return std::nullopt;  // A mounted /proc always lists at least ourselves.
  return pids;
}

int quitPipe[2] = {-1, -1};

void onQuitRequest(int) {
  const int saved = errno;
  const char byte = 1;
  // Only async-signal-safe calls here; a full pipe already says it.
  [[maybe_unused]] const ssize_t n = write(quitPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

std::optional<std::vector<int>> endProcessesOf(const std::string& exePath, int graceMs) {
  char resolved[PATH_MAX];
  if (exePath.empty() || !realpath(exePath.c_str(), resolved))
    return std::vector<int>{};  // no such program: nothing of it runs
  const std::string program = resolved;
  const std::optional<std::vector<pid_t>> pids = allProcesses();
  if (!pids)
    return std::nullopt;
  const pid_t self = getpid();
  std::vector<int> asked;
  for (pid_t pid : *pids) {
    if (pid == self || !ownedByUs(pid) || programOf(pid) != program)
      continue;
    if (kill(pid, SIGTERM) == 0)
      asked.push_back(pid);
  }
  // Given the time to save and go; what still runs then is killed.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  for (int pid : asked) {
    while (running(pid) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (running(pid))
      kill(pid, SIGKILL);
  }
  return asked;
}

void drainQuitRequests() {
  char bytes[64];
  if (quitPipe[0] >= 0)
    while (read(quitPipe[0], bytes, sizeof bytes) > 0) {
    }
}

int quitRequests() {
  if (quitPipe[0] >= 0)
    return quitPipe[0];
  if (pipe(quitPipe) != 0)
    return -1;
  for (int fd : quitPipe) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  struct sigaction action {};
  action.sa_handler = onQuitRequest;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    sigaction(sig, &action, nullptr);
  return quitPipe[0];
}

}  // namespace platform

#include "test_support.h"

#include "eventually.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testing_support {
namespace {

const auto kTimeout = testsupport::wait_limit();
constexpr auto kPollInterval = std::chrono::milliseconds(10);

int removeEntry(const char* path, const struct stat*, int, FTW*) {
  return ::remove(path);
}

}  // namespace

TempDir::TempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tav-platform-XXXXXX";
  if (!mkdtemp(&pattern[0]))
    throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
  path_ = pattern;
}

TempDir::~TempDir() {
  nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

ScopedEnv::~ScopedEnv() {
  for (const auto& [name, value] : saved_) {
    if (value)
      ::setenv(name.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
}

void ScopedEnv::remember(const std::string& name) {
  if (saved_.count(name))
    return;
  const char* old = std::getenv(name.c_str());
  saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
}

void ScopedEnv::set(const std::string& name, const std::string& value) {
  remember(name);
  ::setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnv::unset(const std::string& name) {
  remember(name);
  ::unsetenv(name.c_str());
}

pid_t spawn(const std::string& program, const std::vector<std::string>& args,
            const EnvChanges& env) {
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (!env.count(entry.substr(0, entry.find('='))))
      envStrings.push_back(entry);
  }
  for (const auto& [name, value] : env) {
    if (value)
      envStrings.push_back(name + "=" + *value);
  }
  std::vector<char*> envp;
  for (std::string& s : envStrings)
    envp.push_back(&s[0]);
  envp.push_back(nullptr);

  std::vector<std::string> argStrings{program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argStrings)
    argv.push_back(&s[0]);
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data());
  if (rc != 0)
    throw std::runtime_error("posix_spawn " + program + ": " + std::strerror(rc));
  return pid;
}

int waitForExit(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + kTimeout;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    const pid_t rc = waitpid(pid, &status, WNOHANG);
    if (rc == pid)
      return status;
    if (rc < 0 && errno != EINTR)
      return -1;
    std::this_thread::sleep_for(kPollInterval);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

bool waitFor(const std::function<bool()>& condition) {
  return testsupport::eventually(condition);
}

bool waitForFile(const std::string& path) {
  return waitFor([&] { return exists(path); });
}

void makeDirs(const std::string& path) {
  for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
    ::mkdir(path.substr(0, pos).c_str(), 0755);
    if (pos == std::string::npos)
      break;
  }
}

void writeFile(const std::string& path, const std::string& content, unsigned mode) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  ::chmod(path.c_str(), mode);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> listDir(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..")
        names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

std::string testBinaryDir() {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0)
    throw std::runtime_error("cannot read /proc/self/exe");
  const std::string path(exe, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

}  // namespace testing_support

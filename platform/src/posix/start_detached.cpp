#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

extern char** environ;

namespace platform {
namespace {

// Where execvp() would look for the program. Resolved before fork() because
// the child of a multi-threaded process may only make async-signal-safe calls.
std::vector<std::string> candidatePaths(const std::string& program) {
  if (program.find('/') != std::string::npos)
    return {program};
  const char* pathEnv = std::getenv("PATH");
  const std::string path = pathEnv ? pathEnv : "/bin:/usr/bin";
  std::vector<std::string> result;
  size_t start = 0;
  while (true) {
    const size_t end = path.find(':', start);
    std::string dir = path.substr(start, end == std::string::npos ? end : end - start);
    if (dir.empty())
      dir = ".";  // An empty entry means the working folder.
    result.push_back(dir + "/" + program);
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return result;
}

void writeErrno(int fd, int err) {
  while (write(fd, &err, sizeof err) < 0 && errno == EINTR) {
  }
}

// Runs in the grandchild; never returns.
[[noreturn]] void execCandidates(const std::vector<const char*>& paths, char* const argv[],
                                 int errorFd) {
  int err = ENOENT;
  for (const char* path : paths) {
    execve(path, argv, environ);
    // Like execvp: keep looking after "not here", remember "not allowed".
    if (errno == EACCES)
      err = EACCES;
    else if (errno != ENOENT && errno != ENOTDIR) {
      err = errno;
      break;
    }
  }
  writeErrno(errorFd, err);
  _exit(127);
}

}  // namespace

bool startDetached(const std::string& program, const std::vector<std::string>& args) {
  if (program.empty())
    return false;

  const std::vector<std::string> candidates = candidatePaths(program);
  std::vector<const char*> paths;
  for (const std::string& c : candidates)
    paths.push_back(c.c_str());
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  // The grandchild reports a failed exec through this pipe; a successful exec
  // closes it (O_CLOEXEC), so EOF means "started".
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0)
    return false;

  const pid_t child = fork();
  if (child < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return false;
  }
  if (child == 0) {
    // Intermediate child: a new session, so the program is cut off from our
    // terminal, then fork again and exit, so init adopts the program and it
    // never becomes our zombie.
    close(pipeFds[0]);
    setsid();
    // Our caller may ignore SIGPIPE or block signals; the program should not inherit that.
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    const pid_t grandchild = fork();
    if (grandchild < 0) {
      writeErrno(pipeFds[1], errno);
      _exit(1);
    }
    if (grandchild == 0)
      execCandidates(paths, argv.data(), pipeFds[1]);
    _exit(0);
  }

  close(pipeFds[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }

  int execError = 0;
  ssize_t n;
  do {
    n = read(pipeFds[0], &execError, sizeof execError);
  } while (n < 0 && errno == EINTR);
  close(pipeFds[0]);
  return n == 0;
}

}  // namespace platform

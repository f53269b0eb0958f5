#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

namespace convert {

namespace {

// How often a running child's end, the deadline and keep_going are looked at.
constexpr auto kPollInterval = std::chrono::milliseconds(10);

// Closes every descriptor from `first` on except `keep` (async-signal-safe).
void close_from(int first, int keep) {
  if (keep > first && ::syscall(SYS_close_range, first, keep - 1, 0) != 0)
    for (int fd = first; fd < keep; ++fd)
      ::close(fd);
  if (::syscall(SYS_close_range, keep + 1, ~0U, 0) != 0)
    for (int fd = keep + 1; fd < 65536; ++fd)
      ::close(fd);
}

void kill_group(pid_t pid) {
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
}

}  // namespace

std::string find_executable(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos)
    return name;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos)
      end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty())
      dir = ".";
    const std::string candidate = dir + "/" + name;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return {};
}

ChildResult run_child(const std::vector<std::string>& argv, const ChildOptions& options,
                      std::chrono::steady_clock::time_point deadline,
                      const std::function<bool()>& keep_going) {
  ChildResult result;
  if (argv.empty()) {
    result.status = EINVAL;
    return result;
  }
  const std::string program = find_executable(argv[0]);
  if (program.empty()) {
    result.status = ENOENT;
    return result;
  }
  // Everything the child needs is prepared here: between fork and exec only
  // async-signal-safe calls are allowed.
  std::vector<char*> args;
  for (const auto& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const char* log = options.log_path.empty() ? "/dev/null" : options.log_path.c_str();
  const char* dir = options.work_dir.empty() ? nullptr : options.work_dir.c_str();
  const pid_t parent = ::getpid();
  const rlim_t as_limit = static_cast<rlim_t>(options.address_space);

  int report[2];  // the child writes errno here when exec fails
  if (::pipe2(report, O_CLOEXEC) != 0) {
    result.status = errno;
    return result;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    result.status = errno;
    ::close(report[0]);
    ::close(report[1]);
    return result;
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
      ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (as_limit > 0) {
      struct rlimit limit {
        as_limit, as_limit
      };
      ::setrlimit(RLIMIT_AS, &limit);
    }
    // Nothing of ours leaks into the tool: a socket it held would keep a client's
    // connection open after the client closed it.
    close_from(3, report[1]);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(log, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (in >= 0)
      ::dup2(in, 0);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    if (dir && ::chdir(dir) != 0) {
      const int e = errno;
      (void)!::write(report[1], &e, sizeof e);
      ::_exit(127);
    }
    ::execv(program.c_str(), args.data());
    const int e = errno;
    (void)!::write(report[1], &e, sizeof e);
    ::_exit(127);
  }
  ::setpgid(pid, pid);  // also here, so the group exists before we may have to kill it
  ::close(report[1]);
  int exec_errno = 0;
  const ssize_t n = ::read(report[0], &exec_errno, sizeof exec_errno);
  ::close(report[0]);

  int status = 0;
  for (;;) {
    // Looked at without reaping, so the group id cannot be reused before it is killed.
    siginfo_t info{};
    const int waited = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (waited == 0 && info.si_pid == pid)
      break;
    if (waited < 0 && errno != EINTR)
      break;
    const bool late = std::chrono::steady_clock::now() >= deadline;
    if (late || (keep_going && !keep_going())) {
      kill_group(pid);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      result.how = late ? ChildResult::timed_out : ChildResult::cancelled;
      return result;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  // Whatever the tool left running in its group (a spawned helper) goes with it.
  ::kill(-pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (n == static_cast<ssize_t>(sizeof exec_errno)) {
    result.how = ChildResult::spawn_failed;
    result.status = exec_errno;
  } else if (WIFEXITED(status)) {
    result.how = ChildResult::exited;
    result.status = WEXITSTATUS(status);
  } else {
    result.how = ChildResult::signalled;
    result.status = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return result;
}

}  // namespace convert

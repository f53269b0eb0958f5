// Runs a converter tool as a child process: no shell (argv goes to exec as it is), its own
// process group (so a hung tool is killed with everything it started), stdin from
// /dev/null and stdout and stderr into a log file.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace convert {

struct ChildResult {
  enum How {
    exited,        // status holds the exit status
    signalled,     // killed by a signal it did not get from us (status: the signal)
    timed_out,     // the deadline passed; killed
    cancelled,     // keep_going said no; killed
    spawn_failed,  // could not start (status: errno)
  };
  How how = spawn_failed;
  int status = 0;
  bool ok() const { return how == exited && status == 0; }
};

struct ChildOptions {
  std::string log_path;             // stdout and stderr; empty: /dev/null
  std::string work_dir;             // the child's working folder; empty: ours
  std::uint64_t address_space = 0;  // RLIMIT_AS in bytes; 0: unlimited
};

// Runs argv[0] (looked up in PATH when it has no slash) until it exits, the deadline
// passes or keep_going() returns false (asked every few milliseconds). The child dies with
// the thread that started it if this process is killed.
ChildResult run_child(const std::vector<std::string>& argv, const ChildOptions& options,
                      std::chrono::steady_clock::time_point deadline,
                      const std::function<bool()>& keep_going);

// The executable argv[0] would run: itself when it has a slash, else the first match in PATH.
std::string find_executable(const std::string& name);

}  // namespace convert

#include "bot_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

extern char** environ;

namespace bot_test {

std::string bot_program() {
  const char* dir = std::getenv("TAV_BIN_DIR");
  return std::string(dir ? dir : ".") + "/pavo-bot";
}

bot_process::bot_process(const std::vector<std::string>& args) {
  int to_child[2], from_child[2];
  // Close-on-exec: a bot started later must not hold this one's input open.
  if (pipe2(to_child, O_CLOEXEC) != 0)
    return;
  if (pipe2(from_child, O_CLOEXEC) != 0) {
    close(to_child[0]);
    close(to_child[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
  posix_spawn_file_actions_addclose(&actions, to_child[1]);
  posix_spawn_file_actions_addclose(&actions, from_child[0]);
  const std::string path = bot_program();
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const auto& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0)
    pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(to_child[0]);
  close(from_child[1]);
  in_ = to_child[1];
  out_ = from_child[0];
  signal(SIGPIPE, SIG_IGN);
}

bot_process::~bot_process() {
  if (pid_ > 0 && exit_code_ < 0)
    finish();
  if (out_ >= 0)
    close(out_);
}

bool bot_process::send(const std::string& command) {
  const std::string line = command + "\n";
  return in_ >= 0 && write(in_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

bool bot_process::read_more(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0)
    return false;
  pollfd output{out_, POLLIN, 0};
  if (poll(&output, 1, static_cast<int>(left.count())) <= 0)
    return false;
  char chunk[65536];
  const ssize_t got = read(out_, chunk, sizeof chunk);
  if (got <= 0)
    return false;
  partial_.append(chunk, static_cast<std::size_t>(got));
  for (std::size_t newline; (newline = partial_.find('\n')) != std::string::npos;) {
    lines_.push_back(partial_.substr(0, newline));
    partial_.erase(0, newline + 1);
  }
  return true;
}

std::optional<std::string> bot_process::expect(const std::string& prefix,
                                               std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::size_t checked = 0;
  for (;;) {
    for (; checked < lines_.size(); ++checked) {
      if (lines_[checked].compare(0, prefix.size(), prefix) == 0) {
        std::string found = lines_[checked];
        lines_.erase(lines_.begin() + static_cast<long>(checked));
        return found;
      }
    }
    if (!read_more(deadline))
      return std::nullopt;
  }
}

int bot_process::finish() {
  if (in_ >= 0) {
    close(in_);
    in_ = -1;
  }
  if (pid_ <= 0)
    return -1;
  if (exit_code_ >= 0)
    return exit_code_;
  int status = 0;
  if (waitpid(pid_, &status, 0) != pid_)
    return -1;
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return exit_code_;
}

}  // namespace bot_test

// tav-mcu as a program: flags, the line scripts wait for, serving, and a clean stop.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "raw_client.h"

extern char** environ;

namespace mcu_test {
namespace {

std::string program() {
  const char* dir = std::getenv("TAV_BIN_DIR");
  return std::string(dir ? dir : ".") + "/tav-mcu";
}

struct child {
  pid_t pid = -1;
  std::FILE* out = nullptr;
};

child spawn(const std::vector<std::string>& args) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0)
    return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  std::vector<char*> argv;
  const std::string path = program();
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  child c;
  if (posix_spawn(&c.pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0)
    c.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  c.out = fdopen(pipe_fds[0], "r");
  return c;
}

int wait_exit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid)
    return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The port from the line scripts wait for; 0 when it does not come.
unsigned listening_port(const child& mcu) {
  char line[256] = {};
  unsigned port = 0;
  if (!std::fgets(line, sizeof line, mcu.out) ||
      std::sscanf(line, "tav-mcu: listening on 127.0.0.1:%u", &port) != 1)
    return 0;
  return port;
}

TEST(McuProgram, ServesUntilTerminated) {
  child mcu = spawn({"--listen", "127.0.0.1:0", "--media-port-base", "0", "--internal-token",
                     testsupport::kTestSecret});
  ASSERT_GT(mcu.pid, 0);
  const unsigned port = listening_port(mcu);
  ASSERT_NE(port, 0u);
  auto teacher = member(static_cast<uint16_t>(port), 5, 101);
  EXPECT_TRUE(teacher);
  kill(mcu.pid, SIGTERM);
  EXPECT_EQ(wait_exit(mcu.pid), 0);
  std::fclose(mcu.out);
}

// Without the service's secret no credential can be checked: every join is refused.
TEST(McuProgram, WithoutAnInternalTokenRefusesEveryJoin) {
  child mcu = spawn({"--listen", "127.0.0.1:0", "--media-port-base", "0"});
  ASSERT_GT(mcu.pid, 0);
  const unsigned port = listening_port(mcu);
  ASSERT_NE(port, 0u);
  EXPECT_EQ(join_room(static_cast<uint16_t>(port), 5), 0);
  kill(mcu.pid, SIGTERM);
  EXPECT_EQ(wait_exit(mcu.pid), 0);
  std::fclose(mcu.out);
}

TEST(McuProgram, RefusesBadFlags) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--listen", "nonsense"},
                                               {"--port-base", "x"},
                                               {"--media-port-base", "70000"},
                                               {"--no-such-flag"}}) {
    child mcu = spawn(args);
    ASSERT_GT(mcu.pid, 0);
    EXPECT_EQ(wait_exit(mcu.pid), 2) << args[0];
    std::fclose(mcu.out);
  }
}

}  // namespace
}  // namespace mcu_test

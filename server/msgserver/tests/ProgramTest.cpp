// tav-msgserver as a program: announces its port, relays, stops on SIGTERM.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "RawClient.h"
#include "eventually.h"

namespace {

TEST(ProgramTest, AnnouncesItsPortRelaysAndStopsOnSigterm) {
  const char* bin_dir = std::getenv("TAV_BIN_DIR");
  ASSERT_NE(bin_dir, nullptr);
  const std::string program = std::string(bin_dir) + "/tav-msgserver";
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    ::execl(program.c_str(), "tav-msgserver", "--listen", "127.0.0.1:0", "--internal-token",
            testsupport::kTestSecret, nullptr);
    ::_exit(127);
  }
  ::close(out[1]);

  std::string line;
  while (line.find('\n') == std::string::npos) {
    pollfd p{out[0], POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 20000), 1) << "no announcement";
    char buf[256];
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    ASSERT_GT(n, 0) << "the program ended";
    line.append(buf, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  const std::string prefix = "tav-msgserver listening on 127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  const int port = std::atoi(line.c_str() + prefix.size());
  ASSERT_GT(port, 0);

  msgtest::RawClient client(static_cast<std::uint16_t>(port));
  ASSERT_TRUE(client.hello(8, 9));
  ASSERT_TRUE(client.send("8", "{}"));
  std::string storage;
  const auto d = client.next_deliver(storage);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->text, "{}");

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_TRUE(client.wait_closed());
  int status = -1;
  const auto deadline = std::chrono::steady_clock::now() + testsupport::wait_limit();
  while (::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(WIFEXITED(status)) << "still running or killed";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

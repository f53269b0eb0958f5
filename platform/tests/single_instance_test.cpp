#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "test_support.h"

using namespace testing_support;

namespace {

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    makeDirs(tmp / "run");
    env.set("XDG_RUNTIME_DIR", tmp / "run");
    env.set("TMPDIR", tmp / "tmp");
  }

  // The honest check: a guard created in a separate process.
  static bool otherProcessSeesRunning(const std::string& name) {
    const pid_t pid = fork();
    if (pid == 0) {
      platform::SingleInstance guard(name);
      _exit(guard.alreadyRunning() ? 1 : 0);
    }
    const int status = waitForExit(pid);
    EXPECT_TRUE(WIFEXITED(status));
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
  }

  TempDir tmp;
  ScopedEnv env;
};

TEST_F(SingleInstanceTest, HeldGuardTurnsAwayOtherProcessesUntilDestroyed) {
  {
    platform::SingleInstance guard("TavPcClient");
    EXPECT_FALSE(guard.alreadyRunning());
    EXPECT_TRUE(exists(tmp / "run/TavPcClient.lock"));
    EXPECT_TRUE(otherProcessSeesRunning("TavPcClient"));
    EXPECT_FALSE(otherProcessSeesRunning("TavUpdate"));
  }
  EXPECT_FALSE(otherProcessSeesRunning("TavPcClient"));
}

TEST_F(SingleInstanceTest, SecondGuardInSameProcessIsAlsoTurnedAway) {
  platform::SingleInstance first("TavPcClient");
  platform::SingleInstance second("TavPcClient");
  EXPECT_FALSE(first.alreadyRunning());
  EXPECT_TRUE(second.alreadyRunning());
}

TEST_F(SingleInstanceTest, ReleasedWhenHolderIsKilled) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    platform::SingleInstance guard("TavPcClient");
    const char held = guard.alreadyRunning() ? 'n' : 'y';
    (void)!write(ready[1], &held, 1);
    for (;;)
      pause();
  }
  close(ready[1]);
  char held = 0;
  ASSERT_EQ(read(ready[0], &held, 1), 1);
  close(ready[0]);
  ASSERT_EQ(held, 'y');

  EXPECT_TRUE(platform::SingleInstance("TavPcClient").alreadyRunning());
  kill(holder, SIGKILL);
  const int status = waitForExit(holder);
  ASSERT_TRUE(WIFSIGNALED(status));

  platform::SingleInstance after("TavPcClient");
  EXPECT_FALSE(after.alreadyRunning());
}

TEST_F(SingleInstanceTest, FallsBackToPerUserFileInTempFolder) {
  writeFile(tmp / "not-a-folder", "");
  env.set("XDG_RUNTIME_DIR", tmp / "not-a-folder");
  makeDirs(tmp / "tmp");

  platform::SingleInstance guard("TavPcClient");
  EXPECT_FALSE(guard.alreadyRunning());
  EXPECT_TRUE(exists(tmp / ("tmp/TavPcClient-" + std::to_string(getuid()) + ".lock")));
  EXPECT_TRUE(otherProcessSeesRunning("TavPcClient"));
}

TEST_F(SingleInstanceTest, UnusableFolderDoesNotBlockStartUp) {
  env.unset("XDG_RUNTIME_DIR");  // TMPDIR points to a folder that does not exist.
  platform::SingleInstance first("TavPcClient");
  platform::SingleInstance second("TavPcClient");
  EXPECT_FALSE(first.alreadyRunning());
  EXPECT_FALSE(second.alreadyRunning());
}

}  // namespace

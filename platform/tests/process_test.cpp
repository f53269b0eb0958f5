#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/platform.h"
#include "test_support.h"

using namespace testing_support;

namespace {

// Stand-ins for the client, copies of the test helper in install folders of
// their own, found by the program file they run.
class EndProcessesTest : public ::testing::Test {
protected:
  void TearDown() override {
    for (pid_t pid : children) {
      kill(pid, SIGKILL);
      waitForExit(pid);
    }
  }

  // A copy of the helper at folder/TavPcClient-test, started with args.
  pid_t start(const std::string& folder, const std::vector<std::string>& args) {
    makeDirs(tmp / folder);
    const std::string program = tmp / folder + "/TavPcClient-test";
    if (!exists(program))
      writeFile(program, readFile(testBinaryDir() + "/platform_crash_helper"), 0755);
    const pid_t pid = spawn(program, args);
    children.push_back(pid);
    EXPECT_TRUE(waitFor([&] { return exeOf(pid) == program; }));
    return pid;
  }
  void forget(pid_t pid) { children.erase(std::find(children.begin(), children.end(), pid)); }

  static std::string exeOf(pid_t pid) {
    char buf[4096];
    const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }
  // Whether the process's signal mask named by `field` ("SigIgn:", "SigCgt:") has SIGTERM.
  static bool termIn(pid_t pid, const char* field) {
    const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find(field);
    if (at == std::string::npos)
      return false;
    const unsigned long long mask = std::stoull(status.substr(at + 7), nullptr, 16);
    return (mask >> (SIGTERM - 1)) & 1;
  }
  // Whether the process ignores SIGTERM by now.
  static bool ignoresTerm(pid_t pid) { return termIn(pid, "SigIgn:"); }
  // Whether the process listens for a quit request: it catches SIGTERM (its handler is set
  // after its quit pipe is made, so the pipe alone says too early).
  static bool listening(pid_t pid) { return termIn(pid, "SigCgt:"); }

  TempDir tmp;
  std::vector<pid_t> children;
};

TEST_F(EndProcessesTest, OnlyTheProgramOfThatFolderIsEndedAndAskedFirst) {
  const std::string asked = tmp / "asked";
  const pid_t mine = start("install", {"quit-when-asked", asked});
  const pid_t other = start("elsewhere", {"quit-when-asked", tmp / "other-asked"});
  ASSERT_TRUE(waitFor([&] { return listening(mine) && listening(other); }));

  const auto ended = platform::endProcessesOf(tmp / "install/TavPcClient-test", 20000);
  ASSERT_TRUE(ended);
  EXPECT_EQ(*ended, std::vector<int>{mine});
  const int status = waitForExit(mine);
  forget(mine);
  ASSERT_TRUE(WIFEXITED(status)) << "asked to quit, it quits by itself: " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(exists(asked));
  // The same program in another folder runs on.
  EXPECT_EQ(kill(other, 0), 0);
  EXPECT_FALSE(exists(tmp / "other-asked"));
}

TEST_F(EndProcessesTest, OneThatDoesNotQuitIsKilledAfterTheGraceAndAReplacedFileStillMatches) {
  const pid_t stubborn = start("install", {"ignore-quit"});
  ASSERT_TRUE(waitFor([&] { return ignoresTerm(stubborn); }));
  // Its file replaced under it, as an update does.
  const std::string program = tmp / "install/TavPcClient-test";
  ASSERT_EQ(unlink(program.c_str()), 0);
  writeFile(program, readFile(testBinaryDir() + "/platform_crash_helper"), 0755);
  const auto ended = platform::endProcessesOf(program, 200);
  ASSERT_TRUE(ended);
  EXPECT_EQ(*ended, std::vector<int>{stubborn});
  const int status = waitForExit(stubborn);
  forget(stubborn);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGKILL);

  // Nothing of a program that does not run, or does not exist, and never the caller.
  EXPECT_EQ(platform::endProcessesOf(program, 100), std::vector<int>{});
  EXPECT_EQ(platform::endProcessesOf(tmp / "none", 100), std::vector<int>{});
  const int self = waitForExit(spawn(program, {"end-own-path"}));
  ASSERT_TRUE(WIFEXITED(self)) << self;
  EXPECT_EQ(WEXITSTATUS(self), 0);
}

class StartDetachedTest : public ::testing::Test {
protected:
  void SetUp() override {
    makeDirs(tmp / "bin");
    // Writes its arguments after the first, one per line, into the file named
    // by the first; renamed into place so a reader never sees half of it.
    writeFile(tmp / "bin/tav-writer",
              "#!/bin/sh\n"
              "out=$1; shift\n"
              "echo \"$PPID\" > \"$out.tmp\"\n"
              "printf '%s\\n' \"$@\" >> \"$out.tmp\"\n"
              "mv \"$out.tmp\" \"$out\"\n",
              0755);
  }

  TempDir tmp;
  ScopedEnv env;
};

TEST_F(StartDetachedTest, StartsProgramThatIsNotOurChild) {
  const std::string marker = tmp / "marker";
  ASSERT_TRUE(
      platform::startDetached(tmp / "bin/tav-writer", {marker, "two words", "q\"uote", ""}));

  // The intermediate process is reaped and the program belongs to someone else.
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  ASSERT_TRUE(waitForFile(marker));
  const std::string content = readFile(marker);
  const std::string parent = content.substr(0, content.find('\n'));
  EXPECT_NE(parent, std::to_string(getpid()));
  EXPECT_EQ(content.substr(content.find('\n') + 1), "two words\nq\"uote\n\n");
}

TEST_F(StartDetachedTest, ReturnsWhileProgramRunsInItsOwnSession) {
  const std::string marker = tmp / "pid";
  writeFile(tmp / "bin/tav-stay",
            "#!/bin/sh\necho $$ > '" + marker + ".tmp'\nmv '" + marker + ".tmp' '" + marker +
                "'\nexec sleep 60\n",
            0755);
  ASSERT_TRUE(platform::startDetached(tmp / "bin/tav-stay"));
  ASSERT_TRUE(waitForFile(marker));
  const pid_t pid = static_cast<pid_t>(std::stol(readFile(marker)));
  EXPECT_EQ(kill(pid, 0), 0) << "startDetached waited for the program to end";
  EXPECT_NE(getsid(pid), getsid(0));
  kill(pid, SIGKILL);
}

TEST_F(StartDetachedTest, SearchesPath) {
  env.set("PATH", (tmp / "bin") + ":/usr/bin:/bin");
  ASSERT_TRUE(platform::startDetached("tav-writer", {tmp / "marker"}));
  EXPECT_TRUE(waitForFile(tmp / "marker"));
}

TEST_F(StartDetachedTest, ReportsProgramsThatCannotStart) {
  EXPECT_FALSE(platform::startDetached(tmp / "missing"));
  EXPECT_FALSE(platform::startDetached("tav-no-such-program-" + std::to_string(getpid())));
  writeFile(tmp / "not-executable", "#!/bin/sh\n", 0644);
  EXPECT_FALSE(platform::startDetached(tmp / "not-executable"));
  EXPECT_FALSE(platform::startDetached(""));
}

TEST_F(StartDetachedTest, OpenUrlHandsUrlToXdgOpenUnchanged) {
  const std::string received = tmp / "received";
  writeFile(tmp / "bin/xdg-open",
            "#!/bin/sh\nprintf '%s' \"$1\" > '" + received + ".tmp'\nmv '" + received + ".tmp' '" +
                received + "'\n",
            0755);
  env.set("PATH", (tmp / "bin") + ":" + std::getenv("PATH"));
  env.set("BROWSER", "tav-test-browser");

  const std::string url = "https://example.com/a b?x=1&y='2'#\"frag\"";
  ASSERT_TRUE(platform::openUrl(url));
  ASSERT_TRUE(waitForFile(received));
  EXPECT_EQ(readFile(received), url);
}

TEST_F(StartDetachedTest, OpenUrlFailsWithoutXdgOpenOrABrowser) {
  env.set("PATH", tmp / "bin");
  env.set("BROWSER", "tav-test-browser");
  EXPECT_FALSE(platform::openUrl("https://example.com/"));
  // xdg-open alone, with no browser behind it, cannot open a web page.
  writeFile(tmp / "bin/xdg-open", "#!/bin/sh\nexit 3\n", 0755);
  env.set("BROWSER", "");
  EXPECT_FALSE(platform::openUrl("https://example.com/"));
  env.set("BROWSER", "tav-test-browser");
  EXPECT_TRUE(platform::openUrl("https://example.com/"));
}

}  // namespace

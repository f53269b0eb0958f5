#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "platform/platform.h"
#include "test_support.h"

using namespace testing_support;

namespace {

// A copy of sleep(1) under a name no other process has.
class TerminateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name = "TavUpdate-test-" + std::to_string(getpid());
    path = tmp / name;
    writeFile(path, readFile("/bin/sleep"), 0755);
  }

  void TearDown() override {
    if (child > 0) {
      kill(child, SIGKILL);
      waitForExit(child);
    }
  }

  // Starts the copy and waits until it really runs under its own name.
  void startChild() {
    child = spawn(path, {"60"});
    ASSERT_TRUE(waitFor([&] { return exeOf(child).find(name) != std::string::npos; }));
  }

  static std::string exeOf(pid_t pid) {
    char buf[4096];
    const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }

  void expectChildKilled() {
    const int status = waitForExit(child);
    child = -1;
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
  }

  TempDir tmp;
  std::string name;
  std::string path;
  pid_t child = -1;
};

TEST_F(TerminateTest, KillsProcessWithThatName) {
  ASSERT_NO_FATAL_FAILURE(startChild());
  EXPECT_EQ(platform::terminateProcessByName(name), 0);
  expectChildKilled();
}

TEST_F(TerminateTest, KillsProcessWhoseFileWasReplaced) {
  ASSERT_NO_FATAL_FAILURE(startChild());
  ASSERT_EQ(unlink(path.c_str()), 0);  // /proc/<pid>/exe now ends in " (deleted)".
  EXPECT_EQ(platform::terminateProcessByName(name), 0);
  expectChildKilled();
}

TEST_F(TerminateTest, ComparesCaseSensitively) {
  ASSERT_NO_FATAL_FAILURE(startChild());
  std::string upper = name;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(platform::terminateProcessByName(upper), 0);
  EXPECT_EQ(platform::terminateProcessByName(name + "x"), 0);
  // Still alive: it ends by our signal, not by SIGKILL.
  kill(child, SIGTERM);
  const int status = waitForExit(child);
  child = -1;
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGTERM) << "killed although the name differs";
}

TEST_F(TerminateTest, NoMatchIsNotAnError) {
  EXPECT_EQ(platform::terminateProcessByName(name), 0);  // The copy is not running.
  EXPECT_EQ(platform::terminateProcessByName(""), 0);
}

TEST_F(TerminateTest, NeverKillsTheCaller) {
  // A uniquely named copy of the helper looks for its own name.
  const std::string helper = tmp / ("TavSelf-test-" + std::to_string(getpid()));
  writeFile(helper, readFile(testBinaryDir() + "/platform_crash_helper"), 0755);
  const int status = waitForExit(spawn(helper, {"kill-own-name"}));
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
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

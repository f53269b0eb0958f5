#include <gtest/gtest.h>

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cctype>

#include "platform/platform.h"
#include "test_support.h"

using namespace testing_support;

namespace {

class CrashHandlerTest : public ::testing::Test {
 protected:
  // Runs the helper with its data folder in our temp folder; returns the wait status.
  int runHelper(const std::vector<std::string>& args) {
    lastPid = spawn(testBinaryDir() + "/platform_crash_helper", args,
                    {{"XDG_DATA_HOME", tmp / "data"}, {"HOME", tmp / "home"}});
    return waitForExit(lastPid);
  }

  // The names in <data>/TavPcClient that look like "<digits>.dmp".
  std::vector<std::string> dumps() {
    std::vector<std::string> result;
    for (const std::string& name : listDir(tmp / "data/TavPcClient")) {
      const size_t dot = name.find(".dmp");
      bool digits = dot != std::string::npos && dot > 0 && dot + 4 == name.size();
      for (size_t i = 0; digits && i < dot; ++i)
        digits = std::isdigit(static_cast<unsigned char>(name[i]));
      if (digits)
        result.push_back(name);
    }
    return result;
  }

  std::string onlyDump() {
    const std::vector<std::string> found = dumps();
    EXPECT_EQ(found.size(), 1u);
    EXPECT_EQ(listDir(tmp / "data/TavPcClient").size(), found.size());
    return found.empty() ? std::string() : readFile(tmp / ("data/TavPcClient/" + found[0]));
  }

  TempDir tmp;
  pid_t lastPid = -1;
};

TEST_F(CrashHandlerTest, SegfaultWritesOneDumpAndEndsBySignal) {
  // The data folder does not exist yet: the handler creates the whole path.
  const int status = runHelper({"segv"});
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);

  const std::string dump = onlyDump();
  EXPECT_NE(dump.find("signal: 11 (SIGSEGV)"), std::string::npos) << dump;
  EXPECT_NE(dump.find("address: 0x0000000000000018"), std::string::npos) << dump;
  EXPECT_NE(dump.find("pid: " + std::to_string(lastPid) + "\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("platform_crash_helper"), std::string::npos) << dump;
  EXPECT_NE(dump.find("backtrace:\n"), std::string::npos) << dump;
}

TEST_F(CrashHandlerTest, StackOverflowStillWritesDump) {
  const int status = runHelper({"overflow"});
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  EXPECT_NE(onlyDump().find("(SIGSEGV)"), std::string::npos);
}

TEST_F(CrashHandlerTest, AbortWritesDumpAndEndsBySigabrt) {
  const int status = runHelper({"abort"});
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGABRT);
  EXPECT_NE(onlyDump().find("(SIGABRT)"), std::string::npos);
}

TEST_F(CrashHandlerTest, EveryFatalSignalIsCaught) {
  for (int sig : {SIGBUS, SIGILL, SIGFPE}) {
    SCOPED_TRACE(sig);
    const int status = runHelper({"raise", std::to_string(sig)});
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_NE(onlyDump().find("signal: " + std::to_string(sig) + " ("), std::string::npos);
    for (const std::string& name : dumps())
      std::remove((tmp / ("data/TavPcClient/" + name)).c_str());
  }
}

TEST_F(CrashHandlerTest, InstallingTwiceStillWritesOneDump) {
  const int status = runHelper({"segv-twice"});
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  onlyDump();
}

TEST_F(CrashHandlerTest, NothingIsWrittenUnderADebugger) {
  const std::string helper = testBinaryDir() + "/platform_crash_helper";
  const pid_t pid = fork();
  if (pid == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
      _exit(126);
    setenv("XDG_DATA_HOME", (tmp / "data").c_str(), 1);
    execl(helper.c_str(), helper.c_str(), "segv", static_cast<char*>(nullptr));
    _exit(127);
  }
  // A minimal debugger: pass every signal on (the exec stop's SIGTRAP excepted)
  // until the helper is gone.
  int status = 0;
  while (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
    const int sig = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
    ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(sig)));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 126)
    GTEST_SKIP() << "ptrace is not permitted here";
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  EXPECT_TRUE(dumps().empty());
}

TEST_F(CrashHandlerTest, WithoutDataFolderStillEndsBySignal) {
  // An unknown folder must not turn into "/TavPcClient/".
  const bool rootFolderExisted = exists("/TavPcClient");
  const pid_t pid = spawn(testBinaryDir() + "/platform_crash_helper", {"segv"},
                          {{"XDG_DATA_HOME", std::nullopt}, {"HOME", std::nullopt}});
  const int status = waitForExit(pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  if (!rootFolderExisted) {
    EXPECT_FALSE(exists("/TavPcClient"));
  }
}

}  // namespace

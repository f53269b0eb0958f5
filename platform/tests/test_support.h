// Temporary folders, environment overrides and child processes for the tests.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder below $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets or unsets environment variables and restores them when destroyed.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  void set(const std::string& name, const std::string& value);
  void unset(const std::string& name);

 private:
  void remember(const std::string& name);
  std::map<std::string, std::optional<std::string>> saved_;
};

// Environment changes for a child: a value sets, nullopt removes.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

pid_t spawn(const std::string& program, const std::vector<std::string>& args,
            const EnvChanges& env = {});

// Waits for the child to end (20 s at most, then kills it) and returns its
// waitpid() status, or -1 when it had to be killed.
int waitForExit(pid_t pid);

// Polls until the condition holds; false after 20 s.
bool waitFor(const std::function<bool()>& condition);
bool waitForFile(const std::string& path);

void makeDirs(const std::string& path);
void writeFile(const std::string& path, const std::string& content, unsigned mode = 0644);
std::string readFile(const std::string& path);
bool exists(const std::string& path);
std::vector<std::string> listDir(const std::string& path);

// Folder of the running test executable; helpers are built next to it.
std::string testBinaryDir();

}  // namespace testing_support

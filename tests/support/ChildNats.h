// nats-server as a child process in a temporary folder of its own (its log
// is there), on a port of its own: a free one the first time, the same one
// when started again after a kill. ok() once it said "Server is ready"; the
// destructor ends it if still running and removes the folder.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class ChildNats {
public:
  // binary: the nats-server program; port 0: a free one.
  explicit ChildNats(std::string binary, int port = 0,
                     std::chrono::milliseconds limit = std::chrono::seconds(60))
      : binary_(std::move(binary)) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tav-nats-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
      return;
    folder_ = pattern;
    start(port, limit);
  }
  ~ChildNats() {
    stop(SIGTERM);
    std::error_code ignored;
    if (!folder_.empty())
      std::filesystem::remove_all(folder_, ignored);
  }
  ChildNats(const ChildNats&) = delete;
  ChildNats& operator=(const ChildNats&) = delete;

  bool ok() const { return port_ > 0 && pid_ > 0; }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  std::string url() const { return "nats://127.0.0.1:" + std::to_string(port_); }

  // Ends it (SIGKILL: as if its machine died) and waits for it.
  void stop(int signal = SIGKILL) {
    if (pid_ <= 0)
      return;
    ::kill(pid_, signal);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // Starts it again on the same port; true once it is ready.
  bool restart(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    stop();
    const int port = port_;
    port_ = 0;
    start(port, limit);
    return ok();
  }

private:
  void start(int port, std::chrono::milliseconds limit) {
    const std::string log =
        (std::filesystem::path(folder_) / ("nats-" + std::to_string(++runs_) + ".log")).string();
    std::vector<std::string> args{
        binary_, "-a", "127.0.0.1", "-p", port > 0 ? std::to_string(port) : "-1", "-l", log};
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(folder_.c_str()) != 0)
        _exit(126);
      ::execv(binary_.c_str(), argv.data());
      _exit(127);
    }
    if (pid_ < 0)
      return;
    // Its log names the port once it takes clients, then says it is ready.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      std::ifstream in(log);
      std::stringstream text;
      text << in.rdbuf();
      const std::string all = text.str();
      const std::string listening = "Listening for client connections on 127.0.0.1:";
      const auto at = all.find(listening);
      if (at != std::string::npos && all.find("Server is ready") != std::string::npos) {
        port_ = std::atoi(all.c_str() + at + listening.size());
        return;
      }
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;  // it gave up (the port taken, say)
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  const std::string binary_;
  std::string folder_;
  pid_t pid_ = -1;
  int port_ = 0;
  int runs_ = 0;
};

}  // namespace testsupport

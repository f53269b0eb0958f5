// tav-service as a child process on a data folder, for tests and benchmarks
// that want the real program: "--data D --port 0 --pwhash min
// --no-demo-videos" plus the caller's flags. The port is read from its
// "tav-service: listening on HOST:PORT" line (0 when it did not start within
// the limit). The destructor ends a child that is still running with SIGTERM.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

class ChildService {
public:
  ChildService(const std::string& binary, const std::filesystem::path& data,
               const std::vector<std::string>& flags = {}, int startLimitMs = 60000) {
    std::vector<std::string> args{"tav-service", "--data", data.string(), "--port", "0",
                                  "--pwhash", "min", "--no-demo-videos"};
    args.insert(args.end(), flags.begin(), flags.end());
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0)
      return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execv(binary.c_str(), argv.data());
      _exit(127);
    }
    ::close(out[1]);
    fd_ = out[0];
    // The first line says where it listens, once it accepts connections.
    std::string line;
    while (line.find('\n') == std::string::npos) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, startLimitMs) <= 0)
        break;
      char buffer[256];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0)
        break;
      line.append(buffer, static_cast<size_t>(n));
    }
    const auto colon = line.rfind(':');
    if (line.find("tav-service: listening on") != std::string::npos && colon != std::string::npos)
      port_ = static_cast<unsigned short>(std::atoi(line.c_str() + colon + 1));
  }
  ~ChildService() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0)
      ::close(fd_);
  }
  ChildService(const ChildService&) = delete;
  ChildService& operator=(const ChildService&) = delete;

  unsigned short port() const { return port_; }
  void kill(int signal) { ::kill(pid_, signal); }
  // Waits for the child to end; its wait status.
  int wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    return status;
  }

private:
  pid_t pid_ = -1;
  int fd_ = -1;
  unsigned short port_ = 0;
  bool reaped_ = false;
};

}  // namespace testsupport

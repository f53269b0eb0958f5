// The real tav-service under more connections than it has descriptors for: it
// keeps descriptors for its store and files, refuses the connections beyond
// what it can hold with an answer, goes on serving the ones it holds, and takes
// new ones again once places are free.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "RawConnection.h"
#include "eventually.h"

namespace fs = std::filesystem;
using tavtest::RawConnection;

namespace {

// tav-service with at most fdLimit descriptors, as a small default limit
// (ulimit -n) gives it; the port from its "listening on" line.
class LimitedService {
public:
  LimitedService(const fs::path& data, rlim_t fdLimit) {
    std::vector<std::string> args{"tav-service",
                                  "--data",
                                  data.string(),
                                  "--port",
                                  "0",
                                  "--pwhash",
                                  "min",
                                  "--no-demo-videos",
                                  "--idle-timeout-ms",
                                  "600000",
                                  "--head-timeout-ms",
                                  "600000"};
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0)
      return;
    pid_ = ::fork();
    if (pid_ == 0) {
      const rlimit limit{fdLimit, fdLimit};
      ::setrlimit(RLIMIT_NOFILE, &limit);
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execv(TAV_SERVICE_BIN, argv.data());
      _exit(127);
    }
    ::close(out[1]);
    fd_ = out[0];
    std::string line;
    while (line.find('\n') == std::string::npos) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 60000) <= 0)
        break;
      char buffer[256];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0)
        break;
      line.append(buffer, static_cast<size_t>(n));
    }
    const auto colon = line.rfind(':');
    if (line.find("listening on") != std::string::npos && colon != std::string::npos)
      port_ = std::atoi(line.c_str() + colon + 1);
  }
  ~LimitedService() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0)
      ::close(fd_);
  }
  int port() const { return port_; }

private:
  pid_t pid_ = -1;
  int fd_ = -1;
  int port_ = 0;
};

const std::string kPoster = "GET /uds/upload/poster/room-1001.bmp HTTP/1.1\r\nHost: t\r\n\r\n";

// Answers counted in what a connection received so far.
size_t answers(const RawConnection& c, const char* status) {
  size_t count = 0;
  for (size_t at = c.received().find(status); at != std::string::npos;
       at = c.received().find(status, at + 1))
    ++count;
  return count;
}

}  // namespace

TEST(Capacity, BeyondItsDescriptorsTheServiceRefusesNewcomersAndServesTheOthers) {
  std::string pattern = (fs::temp_directory_path() / "tavcapXXXXXX").string();
  const fs::path dir = mkdtemp(pattern.data());
  {
    LimitedService service(dir / "data", 256);
    ASSERT_GT(service.port(), 0);
    // 300 clients from ten addresses (well within each address's share), each
    // asking for a picture as soon as it is connected.
    std::vector<RawConnection> clients;
    for (int i = 0; i < 300; ++i) {
      clients.emplace_back(service.port(), "127.0.1." + std::to_string(1 + i % 10));
      ASSERT_TRUE(clients.back().valid());
      clients.back().send(kPoster);
    }
    // Each is answered with the picture or told that there are too many (of
    // connections, or of downloads at once for the ones let in).
    size_t served = 0, refused = 0;
    const bool settled = testsupport::eventually([&] {
      served = refused = 0;
      for (auto& c : clients) {
        c.poll();
        served += answers(c, "HTTP/1.1 200 ") > 0 ? 1 : 0;
        refused += answers(c, "HTTP/1.1 503 ") > 0 ? 1 : 0;
      }
      return served + refused == clients.size();
    });
    EXPECT_TRUE(settled) << served << " served, " << refused << " refused of " << clients.size();
    EXPECT_GT(served, 50u);
    EXPECT_GT(refused, 0u);
    EXPECT_TRUE(std::any_of(clients.begin(), clients.end(), [](const RawConnection& c) {
      return c.received().find("连接过多") != std::string::npos;
    }));
    // Those it holds are still served, files included.
    size_t again = 0;
    for (auto& c : clients) {
      if (c.closedByPeer() || answers(c, "HTTP/1.1 200 ") == 0)
        continue;
      c.send(kPoster);
      if (testsupport::eventually([&] {
            c.poll();
            return answers(c, "HTTP/1.1 200 ") == 2 || c.closedByPeer();
          }) &&
          answers(c, "HTTP/1.1 200 ") == 2)
        ++again;
    }
    EXPECT_EQ(again, served);
    // Once they go, newcomers get in again.
    clients.clear();
    EXPECT_TRUE(testsupport::eventually([&] {
      RawConnection late(service.port(), "127.0.1.20");
      return late.send(kPoster) && late.waitFor("HTTP/1.1 200 ", testsupport::wait_limit());
    }));
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}

// bench-chat --section transfer [--mib N] [--runs N] [--curl PATH]
// Starts tav-service on a temporary data folder, writes an N MiB file (64 by
// default) and moves it up and down with libferrum and with the curl program
// (same file, same URLs, same ticket header), each --runs times (3), and
// prints the best MiB/s of each and libferrum's ratio to curl. Both run on
// loopback against the same service, so the service's own cost is in both.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Sections.h"
#include "ServiceProcess.h"
#include "libferrum/libferrum.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace benchchat {
namespace {

constexpr unsigned kRoom = 1002, kUser = 10003;

class Waiter : public trans_observer {
public:
  void progress(unsigned, unsigned) override {}
  void trans_error(int code) override {
    error = code;
    done = true;
  }
  void complete() override { done = true; }
  // Sleeps between looks: the waiting thread should not take a core from the transfer.
  bool wait() {
    while (!done)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return error == 0;
  }
  std::atomic<bool> done{false};
  std::atomic<int> error{0};
};

// Runs the curl program; false unless it exits with 0.
bool runCurl(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
    return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool sameContent(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> p(1 << 20), q(1 << 20);
  while (x && y) {
    x.read(p.data(), static_cast<std::streamsize>(p.size()));
    y.read(q.data(), static_cast<std::streamsize>(q.size()));
    if (x.gcount() != y.gcount() ||
        std::memcmp(p.data(), q.data(), static_cast<size_t>(x.gcount())))
      return false;
  }
  return !x && !y;
}

}  // namespace

int runTransfer(int argc, char** argv) {
  int mib = 64, runs = 3;
  std::string curl = "curl";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--mib"))
      mib = std::max(1, std::atoi(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--runs"))
      runs = std::max(1, std::atoi(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--curl"))
      curl = argv[i + 1];
  }
  std::string pattern = (fs::temp_directory_path() / "bench-chatXXXXXX").string();
  const fs::path dir(mkdtemp(pattern.data()));
  int status = 1;
  {
    ferrumtest::ServiceProcess service(TAV_SERVICE_BIN, dir / "data");
    const std::string ticket = service.port() ? service.login("student1") : std::string();
    if (ticket.empty()) {
      std::fprintf(stderr, "transfer: tav-service did not start or log in\n");
      fs::remove_all(dir);
      return 1;
    }
    const std::string name = "bench.bin";
    const fs::path source = dir / name;
    {
      std::mt19937_64 gen(1);
      std::vector<uint64_t> block((1 << 20) / 8);
      std::ofstream out(source, std::ios::binary);
      for (int m = 0; m < mib; ++m) {
        for (auto& w : block)
          w = gen();
        out.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
      }
    }
    const uint64_t size = static_cast<uint64_t>(mib) << 20;
    const std::string base = "http://127.0.0.1:" + std::to_string(service.port());
    // The URLs libferrum uses (README.md of libferrum).
    const std::string upUrl = base + "/uds/upload?roomId=" + std::to_string(kRoom) +
                              "&userId=" + std::to_string(kUser) + "&name=" + name +
                              "&size=" + std::to_string(size) + "&offset=0";
    const std::string downUrl = base + "/uds/upload/room/" + std::to_string(kRoom) + "/" +
                                std::to_string(kUser) + "/" + name;
    const std::string header = "X-Tav-Ticket: " + ticket;

    double best[4] = {0, 0, 0, 0};  // MiB/s: ferrum up, curl up, ferrum down, curl down
    bool ok = true;
    const auto record = [&](int which, double s) { best[which] = std::max(best[which], mib / s); };
    for (int run = 0; run < runs && ok; ++run) {
      {
        Waiter w;
        const auto start = Clock::now();
        velupload* up = velupload::create(&w, kUser, kRoom, source.c_str(), ticket.c_str(),
                                          "127.0.0.1", service.port());
        ok = up && w.wait();
        record(0, seconds(start));
        if (up)
          up->release(1);
      }
      {
        // -T streams the file as it is sent (as libferrum does); -X POST makes it the
        // upload's method; no 100-continue wait on either side.
        const auto start = Clock::now();
        ok = ok && runCurl({curl, "-sS", "--fail", "--noproxy", "*", "-o", "/dev/null", "-H",
                            header, "-H", "Expect:", "-H", "Content-Type: application/octet-stream",
                            "-X", "POST", "-T", source.string(), upUrl});
        record(1, seconds(start));
      }
      const fs::path viaFerrum = dir / "down" / name;
      const fs::path viaCurl = dir / "curl-down.bin";
      fs::create_directories(viaFerrum.parent_path());
      fs::remove(viaFerrum);
      {
        Waiter w;
        const auto start = Clock::now();
        veldownload* down = veldownload::create(&w, kUser, kRoom, kUser, viaFerrum.c_str(),
                                                ticket.c_str(), "127.0.0.1", service.port());
        ok = ok && down && w.wait();
        record(2, seconds(start));
        if (down)
          down->release(1);
      }
      {
        const auto start = Clock::now();
        ok = ok && runCurl({curl, "-sS", "--fail", "--noproxy", "*", "-o", viaCurl.string(), "-H",
                            header, downUrl});
        record(3, seconds(start));
      }
      ok = ok && sameContent(source, viaFerrum) && sameContent(source, viaCurl);
    }
    if (!ok) {
      std::fprintf(stderr, "transfer: a transfer failed or its bytes differ\n");
    } else {
      std::printf("transfer: %d MiB file over loopback to tav-service, best of %d runs\n", mib,
                  runs);
      std::printf("  upload    libferrum %8.1f MiB/s   curl %8.1f MiB/s   ratio %.2f\n", best[0],
                  best[1], best[0] / best[1]);
      std::printf("  download  libferrum %8.1f MiB/s   curl %8.1f MiB/s   ratio %.2f\n", best[2],
                  best[3], best[2] / best[3]);
      status = 0;
    }
  }
  fs::remove_all(dir);
  return status;
}

}  // namespace benchchat

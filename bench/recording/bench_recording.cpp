// bench-recording [--seconds N] [--students N] [--port-base P]
//
// Starts tav-server (service, MCU, video server) on a fresh data folder and the members as
// pavo-bot processes: a teacher who starts the class, shares a whiteboard template and draws
// a stroke every few seconds, and N students; every member publishes the synthetic camera
// and microphone. The recorder runs in this process and records the class (1280x720, the
// content area and the cameras' tiles) for N seconds; then it is uploaded and published.
// Printed: the recorder's CPU (share of one core) and memory over the recording, the file's
// bitrate, and the time from the upload's start to a playable courseware (OD and LD, from the
// video server's log line).
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "libcentra/centra.h"
#include "tavsrv/Credential.h"

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

// A child process with its standard input kept for commands and its output in a file.
struct Child {
  pid_t pid = -1;
  int input = -1;
  std::string output;

  bool start(const std::vector<std::string>& argv, const std::string& output_file) {
    output = output_file;
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0)
      return false;
    pid = ::fork();
    if (pid == 0) {
      ::dup2(pipe_fds[0], 0);
      const int out = ::open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, 1);
      ::dup2(out, 2);
      ::close(pipe_fds[1]);
      std::vector<char*> args;
      for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(pipe_fds[0]);
    input = pipe_fds[1];
    return pid > 0;
  }
  void send(const std::string& line) {
    const std::string text = line + "\n";
    if (::write(input, text.data(), text.size()) < 0)
      std::perror("write");
  }
  std::string text() const {
    std::ifstream in(output);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Waits until the output holds `what` (a bound against a hang: 120 s).
  bool wait_for(const std::string& what) const {
    const auto deadline = clock_type::now() + std::chrono::seconds(120);
    while (clock_type::now() < deadline) {
      if (text().find(what) != std::string::npos)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  void stop() {
    if (pid <= 0)
      return;
    if (input >= 0)
      ::close(input);
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
  }
  // True once the program has ended (it is then reaped).
  bool exited() {
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, WNOHANG) != pid)
      return pid <= 0;
    pid = -1;
    return true;
  }
  ~Child() { stop(); }
};

struct Notes {
  std::atomic<int> ready{0}, failed{0}, uploaded{-100};
  static void callback(void* context, record_msg_t msg, void* arg) {
    auto* n = static_cast<Notes*>(context);
    if (msg == record_msg_ready)
      n->ready = 1;
    else if (msg == record_msg_upload_done)
      n->uploaded = arg ? *static_cast<int32_t*>(arg) : -1;
    else
      n->failed = int(msg);
  }
};

double cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

// A line of /proc/self/status in MiB ("VmRSS", "VmHWM").
double status_mib(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0)
      return std::atof(line.c_str() + std::strlen(key) + 1) / 1024.0;
  return 0;
}

bool wait_until(const std::function<bool()>& done, int seconds) {
  const auto deadline = clock_type::now() + std::chrono::seconds(seconds);
  while (clock_type::now() < deadline) {
    if (done())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 60, students = 3, port_base = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--seconds")
      seconds = std::atoi(argv[i + 1]);
    else if (flag == "--students")
      students = std::atoi(argv[i + 1]);
    else if (flag == "--port-base")
      port_base = std::atoi(argv[i + 1]);
  }
  if (seconds < 1 || students < 0 || students > 5) {
    std::fprintf(stderr,
                 "usage: bench-recording [--seconds N] [--students 0..5] [--port-base P]\n");
    return 2;
  }
  // Below the kernel's range of ports for outgoing connections (32768 and up),
  // and another base when a port of this one is taken (by another test).
  const bool chosen_base = port_base != 0;
  if (!chosen_base)
    port_base = 20000 + int(::getpid() % 1200) * 10;
  const std::string bin = fs::canonical("/proc/self/exe").parent_path().string();
  char pattern[] = "/tmp/bench-recording-XXXXXX";
  if (!::mkdtemp(pattern))
    return 1;
  const fs::path dir = pattern;
  const fs::path data = dir / "servers";
  fs::create_directories(data);
  // The servers' internal key, made here so that this program can sign the members'
  // credentials as the service would.
  const std::string key(64, 'a');
  {
    const int fd = ::open((data / "internal.key").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::string line = key + "\n";
    if (fd < 0 || ::write(fd, line.data(), line.size()) != ssize_t(line.size()))
      return 1;
    ::close(fd);
  }
  auto credential = [&](uint32_t user, int role) {
    const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    return tavsrv::signCredential(key, tavsrv::Credential{user, 1001, role, now_ms + 3600000});
  };

  Child servers;
  for (int attempt = 0;; ++attempt) {
    servers.start({bin + "/tav-server", "--data", data.string(), "--roles", "service,mcu,video",
                   "--port-base", std::to_string(port_base), "--no-demo-videos"},
                  (dir / "servers.log").string());
    // endpoints.json is written once every role serves; a port in use ends the program.
    bool ended = false;
    if (wait_until([&] { return fs::exists(data / "endpoints.json") || (ended = servers.exited()); },
                   120) &&
        !ended)
      break;
    if (!ended || chosen_base || attempt == 9) {
      std::fprintf(stderr, "bench-recording: the servers did not start:\n%s\n",
                   servers.text().c_str());
      return 1;
    }
    port_base = 20000 + (port_base - 20000 + 10 * 97) % 12000;
  }
  const int mcu = port_base + 2, service = port_base, video = port_base + 4;

  // The members: the teacher starts the class, shows the character grid and draws.
  std::vector<std::unique_ptr<Child>> members;
  auto member = [&](uint32_t user, int role) {
    auto child = std::make_unique<Child>();
    child->start(
        {bin + "/pavo-bot", "--room", "1001", "--user", std::to_string(user), "--credential",
         credential(user, role), "--mcu", "127.0.0.1:" + std::to_string(mcu), "--role",
         role == 1 ? "teacher" : "student", "--open", "audio,video", "--workdir", bin},
        (dir / ("member-" + std::to_string(user) + ".log")).string());
    const bool up = child->wait_for("connected");
    members.push_back(std::move(child));
    return up;
  };
  if (!member(10001, 1)) {
    std::fprintf(stderr, "bench-recording: the teacher did not connect\n");
    return 1;
  }
  Child& teacher = *members.front();
  teacher.send("start");
  teacher.send("share-start");
  teacher.send(
      R"(send * {"typeId":"72","fileType":"1","fileName":"charactergrid.png","fileUploaderUserId":10001,"curRotateAngle":0,"picDispMode":0})");
  for (int s = 0; s < students; ++s)
    if (!member(uint32_t(10003 + s), 2)) {
      std::fprintf(stderr, "bench-recording: student %d did not connect\n", s);
      return 1;
    }

  Notes notes;
  const std::string folder = (dir / "recordings").string();
  const std::string own = credential(10001, 1);
  const std::string files = "127.0.0.1:" + std::to_string(service);
  const centra_options options{own.c_str(), "", files.c_str(), folder.c_str(), nullptr, nullptr};
  centra* recorder =
      centra::create(1001, 10001, "127.0.0.1", uint16_t(mcu), video_format_mp4, false, "127.0.0.1",
                     uint16_t(video), &Notes::callback, &notes, options);
  if (!recorder || !wait_until([&] { return notes.ready == 1; }, 60)) {
    std::fprintf(stderr, "bench-recording: the recorder is not ready (%d)\n", int(notes.failed));
    return 1;
  }
  // Wait until every camera is there (the recorder subscribes as they come).
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double rss_before = status_mib("VmRSS:");
  recorder->begin_record();
  const double cpu_start = cpu_seconds();
  const auto wall_start = clock_type::now();
  double rss_peak = 0;
  int stroke = 0;
  while (recorder->record_seconds() < seconds && notes.failed == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    rss_peak = std::max(rss_peak, status_mib("VmRSS:"));
    // A stroke across the board every two seconds.
    if (++stroke % 4 == 0) {
      const double y = 0.1 + 0.05 * ((stroke / 4) % 16);
      teacher.send(R"(send * {"typeId":100,"sendUserId":10001,"content":1,"x":0.1,"y":)" +
                   std::to_string(y) + "}");
      for (int p = 1; p <= 8; ++p)
        teacher.send(R"(send * {"typeId":100,"sendUserId":10001,"content":2,"x":)" +
                     std::to_string(0.1 + 0.1 * p) + R"(,"y":)" + std::to_string(y) + "}");
      teacher.send(R"(send * {"typeId":100,"sendUserId":10001,"content":3})");
    }
  }
  const double cpu = cpu_seconds() - cpu_start;
  const double wall = std::chrono::duration<double>(clock_type::now() - wall_start).count();
  recorder->end_record();
  char path[1024] = {0};
  recorder->record_file(path, sizeof path);
  const double bytes = double(fs::file_size(path));
  const int recorded = recorder->record_seconds();

  const std::string desc = "roomId=1001,globalId=10001,coursewareName=bench" +
                           std::to_string(::getpid()) + ",price=0,description=,grade=";
  const auto upload_start = clock_type::now();
  recorder->upload_record(desc.data(), unsigned(desc.size()));
  const bool published = wait_until([&] { return notes.uploaded != -100; }, 600);
  const double publish_ms =
      std::chrono::duration<double, std::milli>(clock_type::now() - upload_start).count();
  delete recorder;

  std::printf(
      "recording: %d s of 1280x720 at 15 fps with %d camera tiles (teacher + %d students)\n",
      recorded, students + 1, students);
  std::printf("recorder CPU: %.1f %% of one core (%.1f s of CPU in %.1f s)\n", 100.0 * cpu / wall,
              cpu, wall);
  std::printf(
      "recorder memory: %.0f MiB resident before recording, %.0f MiB at most while "
      "recording, %.0f MiB peak of the process\n",
      rss_before, rss_peak, status_mib("VmHWM:"));
  std::printf("file: %.0f KiB, %.0f kbit/s\n", bytes / 1024,
              bytes * 8 / 1000 / std::max(1, recorded));
  std::printf("upload to a playable courseware (OD and LD): %.0f ms%s\n", publish_ms,
              published && notes.uploaded == 0 ? "" : " (not published)");
  const std::string log = servers.text();
  const size_t at = log.find("published as courseware");
  if (at != std::string::npos)
    std::printf("video server: %s\n", log.substr(at, log.find('\n', at) - at).c_str());

  members.clear();
  servers.stop();
  std::error_code ec;
  fs::remove_all(dir, ec);
  return published && notes.uploaded == 0 && notes.failed == 0 ? 0 : 1;
}

#include "ScratchNginx.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// A loopback port free now (the system's pick); nginx is started on it and
// another is tried should something take it meanwhile.
int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

bool accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string binary() {
  const char* given = std::getenv("TAV_NGINX");
  return given ? given : "/usr/sbin/nginx";
}

}  // namespace

std::string ScratchNginx::config(const std::string& dir, int port,
                                 const std::vector<int>& upstreams) {
  std::ostringstream out;
  out << "daemon off;\nmaster_process off;\nerror_log " << dir << "/error.log warn;\npid " << dir
      << "/nginx.pid;\nevents { worker_connections 1024; }\nhttp {\n";
  for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
    out << "  " << temp << "_temp_path " << dir << "/" << temp << ";\n";
  out << "  log_format upstream '$upstream_addr $status';\n  access_log " << dir
      << "/access.log upstream;\n  upstream tav_service {\n";
  for (int upstream : upstreams)
    out << "    server 127.0.0.1:" << upstream << " max_fails=1 fail_timeout=10s;\n";
  out << "    keepalive 32;\n  }\n  server {\n    listen 127.0.0.1:" << port
      << ";\n    client_max_body_size 65m;\n    location / {\n"
      << "      proxy_pass http://tav_service;\n      proxy_http_version 1.1;\n"
      << "      proxy_set_header Connection \"\";\n      proxy_set_header Host $http_host;\n"
      << "      proxy_set_header X-Forwarded-For $proxy_add_x_forwarded_for;\n    }\n  }\n}\n";
  return out.str();
}

ScratchNginx::ScratchNginx(const std::vector<int>& upstreamPorts) {
  if (::access(binary().c_str(), X_OK) != 0) {
    why_ = "no " + binary() + " (scripts/setup installs the nginx package)";
    return;
  }
  std::string pattern = (fs::temp_directory_path() / "tavlbXXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    why_ = "cannot make a temporary folder";
    return;
  }
  dir_ = pattern;
  for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
    const int port = freePort();
    if (port > 0 && startOn(port, upstreamPorts))
      port_ = port;
  }
}

bool ScratchNginx::startOn(int port, const std::vector<int>& upstreams) {
  const std::string conf = dir_ + "/nginx.conf";
  std::ofstream(conf) << config(dir_, port, upstreams);
  const std::string log = dir_ + "/out.log", errors = dir_ + "/error.log";
  std::vector<std::string> args{binary(), "-p", dir_ + "/", "-c", conf, "-e", errors};
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0)
    return false;
  if (pid == 0) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
      ::close(fd);
    }
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // it stops with the test
    if (::getppid() != parent)
      _exit(125);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  // Ready once it accepts; one that ended (its port taken meanwhile) says why in its log.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!accepts(port)) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      why_ = "nginx ended at its start: " + readAll(errors) + readAll(log);
      return false;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      why_ = "nginx did not accept within 60 s: " + readAll(errors);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = pid;
  return true;
}

ScratchNginx::~ScratchNginx() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

std::vector<std::string> ScratchNginx::accessLog() const {
  std::vector<std::string> lines;
  std::istringstream in(readAll(dir_ + "/access.log"));
  std::string line;
  while (std::getline(in, line))
    lines.push_back(line);
  return lines;
}

}  // namespace testsupport

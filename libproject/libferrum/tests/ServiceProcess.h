// tav-service as a child process on a fresh data folder, for libferrum's tests and
// its benchmark: started on a free port (read from its "listening on" line), with
// demo data and fast password hashes, and a login helper.
#pragma once

#include <curl/curl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

namespace ferrumtest {

class ServiceProcess {
public:
  ServiceProcess(const std::string& binary, const std::filesystem::path& data) : data_(data) {
    int out[2];
    if (::pipe(out) != 0)
      return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      const std::string dataArg = data.string();
      execl(binary.c_str(), "tav-service", "--data", dataArg.c_str(), "--port", "0", "--pwhash",
            "min", "--no-demo-videos", static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(out[1]);
    fd_ = out[0];
    // The first line says where it listens, once it accepts connections.
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
    if (line.find("tav-service: listening on") != std::string::npos && colon != std::string::npos)
      port_ = static_cast<unsigned short>(std::atoi(line.c_str() + colon + 1));
  }
  ~ServiceProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0)
      ::close(fd_);
  }
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  unsigned short port() const { return port_; }
  std::filesystem::path uploads() const { return data_ / "uploads"; }

  // The ticket of a demo account ("" on failure).
  std::string login(const std::string& user) const {
    CURL* curl = curl_easy_init();
    const std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/aas/service/user/login";
    const std::string body = "userName=" + user + "&userPwd=123456";
    std::string answer;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t n, void* out) {
          static_cast<std::string*>(out)->append(d, s * n);
          return s * n;
        });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (result != CURLE_OK)
      return {};
    const auto parsed = nlohmann::json::parse(answer, nullptr, false);
    if (!parsed.is_object() || parsed.value("code", -1) != 0 || !parsed["body"].is_string())
      return {};
    const auto user_ = nlohmann::json::parse(parsed["body"].get<std::string>(), nullptr, false);
    return user_.is_object() ? user_.value("ticketId", std::string()) : std::string();
  }

private:
  std::filesystem::path data_;
  pid_t pid_ = -1;
  int fd_ = -1;
  unsigned short port_ = 0;
};

}  // namespace ferrumtest

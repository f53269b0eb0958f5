// tav-service as a child process on a fresh data folder, for libferrum's tests and
// its benchmark: started on a free port (read from its "listening on" line), with
// demo data and fast password hashes, and a login helper.
#pragma once

#include <curl/curl.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "ChildService.h"

namespace ferrumtest {

class ServiceProcess : public testsupport::ChildService {
public:
  ServiceProcess(const std::string& binary, const std::filesystem::path& data)
      : ChildService(binary, data), data_(data) {}

  std::filesystem::path uploads() const { return data_ / "uploads"; }

  // The ticket of a demo account ("" on failure).
  std::string login(const std::string& user) const {
    CURL* curl = curl_easy_init();
    const std::string url = "http://127.0.0.1:" + std::to_string(port()) + "/aas/service/user/login";
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
};

}  // namespace ferrumtest

#include "tavsrv/Log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace tavsrv {

namespace {
std::atomic<int> gLevel{static_cast<int>(LogLevel::Info)};
std::mutex gMutex;
std::FILE* gFile = nullptr;

const char* levelWord(LogLevel level) {
  switch (level) {
    case LogLevel::Debug:
      return "debug";
    case LogLevel::Info:
      return "info";
    case LogLevel::Warn:
      return "warn";
    case LogLevel::Error:
      return "error";
  }
  return "?";
}
}  // namespace

void setLogLevel(LogLevel level) {
  gLevel = static_cast<int>(level);
}

bool setLogFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (!file)
    return false;
  std::lock_guard<std::mutex> lock(gMutex);
  if (gFile)
    std::fclose(gFile);
  gFile = file;
  return true;
}

void logLine(LogLevel level, const std::string& text) {
  if (static_cast<int>(level) < gLevel)
    return;
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const int millis =
      static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm parts{};
  localtime_r(&seconds, &parts);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);
  std::lock_guard<std::mutex> lock(gMutex);
  std::fprintf(stderr, "%s.%03d %s %s\n", stamp, millis, levelWord(level), text.c_str());
  if (gFile) {
    std::fprintf(gFile, "%s.%03d %s %s\n", stamp, millis, levelWord(level), text.c_str());
    std::fflush(gFile);
  }
}

}  // namespace tavsrv

#include "log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace msgserver::log {

namespace {

std::atomic<bool> g_verbose{false};
std::mutex g_mutex;

void write(const char* level, const std::string& text) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &secs);
#else
  localtime_r(&secs, &tm);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  std::lock_guard<std::mutex> lock(g_mutex);
  std::fprintf(stderr, "%s.%03d msgserver %s %s\n", stamp, static_cast<int>(ms), level,
               text.c_str());
}

}  // namespace

void set_verbose(bool v) {
  g_verbose = v;
}

bool verbose() {
  return g_verbose;
}

void info(const std::string& text) {
  write("INFO", text);
}

void warn(const std::string& text) {
  write("WARN", text);
}

void debug(const std::string& text) {
  if (g_verbose)
    write("DEBUG", text);
}

}  // namespace msgserver::log

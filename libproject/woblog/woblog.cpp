#include "woblog/woblog.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace qn {
namespace {

// "yyyy-mm-dd hh:mm:ss.mmm " in front of every line.
constexpr size_t kStampLength = 24;

std::mutex g_mutex;
FILE* g_file = nullptr;           // guarded by g_mutex
std::atomic<bool> g_open{false};  // lets lines be dropped without formatting them

void write_stamp(char* out) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const long ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char buffer[kStampLength + 8];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03ld ",
                (local.tm_year + 1900) % 10000, (local.tm_mon + 1) % 100, local.tm_mday % 100,
                local.tm_hour % 100, local.tm_min % 100, local.tm_sec % 100, ms);
  for (size_t i = 0; i < kStampLength; ++i)
    out[i] = buffer[i];
}

}  // namespace

int log_init(const char* path) {
  if (!path || !*path)
    return -1;
  FILE* file = std::fopen(path, "ab");
  if (!file)
    return -1;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_file)
    std::fclose(g_file);
  g_file = file;
  g_open = true;
  return 0;
}

void log_close() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_file)
    std::fclose(g_file);
  g_file = nullptr;
  g_open = false;
}

void vlog(const char* fmt, va_list args) {
  if (!fmt || !g_open.load())
    return;
  // The text is formatted outside the lock; only the stamp and the write are serialised, so
  // lines appear in time order.
  char line[log_line_max];
  char* text = line + kStampLength;
  const size_t room = log_line_max - kStampLength - 1;  // keep one byte for the '\n'
  va_list copy;
  va_copy(copy, args);
  const int wanted = std::vsnprintf(text, room + 1, fmt, copy);  // +1: its terminating NUL
  va_end(copy);
  size_t length = 0;
  if (wanted < 0) {
    const char failed[] = "(bad log format)";
    for (; failed[length]; ++length)
      text[length] = failed[length];
  } else {
    length = static_cast<size_t>(wanted) < room ? static_cast<size_t>(wanted) : room;
  }
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r'))
    --length;
  for (size_t i = 0; i < length; ++i)
    if (text[i] == '\n' || text[i] == '\r')
      text[i] = ' ';
  text[length] = '\n';
  const size_t total = kStampLength + length + 1;

  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_file)
    return;
  write_stamp(line);
  std::fwrite(line, 1, total, g_file);
  std::fflush(g_file);
}

void log(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vlog(fmt, args);
  va_end(args);
}

}  // namespace qn

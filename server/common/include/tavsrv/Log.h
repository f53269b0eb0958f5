// One line per event: time, level, text. To stderr, and to a file when one is set.
#pragma once

#include <string>

namespace tavsrv {

enum class LogLevel { Debug = 0, Info = 1, Warn = 2, Error = 3 };

void setLogLevel(LogLevel level);
// Appends to path as well as stderr; false when the file cannot be opened.
bool setLogFile(const std::string& path);
void logLine(LogLevel level, const std::string& text);

inline void logDebug(const std::string& text) {
  logLine(LogLevel::Debug, text);
}
inline void logInfo(const std::string& text) {
  logLine(LogLevel::Info, text);
}
inline void logWarn(const std::string& text) {
  logLine(LogLevel::Warn, text);
}
inline void logError(const std::string& text) {
  logLine(LogLevel::Error, text);
}

}  // namespace tavsrv

// One line per event on stderr: time, level, text.
#pragma once

#include <string>

namespace msgserver::log {

void set_verbose(bool verbose);
bool verbose();
void info(const std::string& text);
void warn(const std::string& text);
// Only when verbose.
void debug(const std::string& text);

}  // namespace msgserver::log

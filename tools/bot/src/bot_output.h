// Standard output of pavo-bot: one event per line, whole lines only, from any thread.
#pragma once

#include <cstddef>
#include <string>

namespace bot {

// Writes `line` and a line break, flushed, under one lock.
void print_line(const std::string& line);

// Peer message text on one line: backslash, control bytes and line breaks escaped
// ("\\", "\n", "\xNN"); other bytes, UTF-8 included, as they are.
std::string escape(const char* data, std::size_t length);

}  // namespace bot

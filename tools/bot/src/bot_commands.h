// The commands pavo-bot reads on standard input.
#pragma once

#include <string>

#include "bot_observer.h"
#include "libpavo/libpavo.h"

namespace bot {

enum class command_result { done, quit };

// Runs one command line against the library and prints "result <command> <code>" (or an
// "error ..." line for a line it does not understand).
command_result run_command(const std::string& line, Libpavo& library, bot_observer& observer,
                           uint32_t own_id);

std::string command_help();

}  // namespace bot

// Command line of pavo-bot.
#pragma once

#include <cstdint>
#include <string>

#include "libpavo/libpavo.h"

namespace bot {

struct options {
  std::string mcu_host = "127.0.0.1";
  uint16_t mcu_port = 27802;
  bool mcu_given = false;  // --mcu: not taken from the room entry
  uint32_t room = 0;
  uint32_t user = 0;
  // The room credential the MCU wants with the join and the login: given, or fetched from
  // the service by logging in as `account` and entering the room.
  std::string credential;
  std::string service_host = "127.0.0.1";
  uint16_t service_port = 27800;
  std::string account;
  std::string password;
  user_role_t role = user_role_student;
  std::string workdir;          // where "videoparam.conf" is; empty: see main
  std::string open;             // media to open once connected: "audio", "video", "audio,video"
  bool auto_subscribe = false;  // subscribe to every video stream announced
  bool exit_on_disconnect = false;
  // The machine's own camera and microphone instead of the synthetic ones.
  bool real_devices = false;
};

// False with *error set on a bad or missing flag; *help set for --help.
bool parse_options(int argc, const char* const* argv, options* out, bool* help, std::string* error);
std::string usage();

// Media kind from a name ("video", "audio", "screen", "doc") or a number; 0 when unknown.
int parse_kind(const std::string& text);

}  // namespace bot

#include "bot_options.h"

#include <cerrno>
#include <cstdlib>

namespace bot {

namespace {

bool parse_number(const std::string& text, unsigned long long max, unsigned long long* out) {
  if (text.empty() || text[0] == '-' || text[0] == '+')
    return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value > max)
    return false;
  *out = value;
  return true;
}

}  // namespace

std::string usage() {
  return "usage: pavo-bot --room N (--login NAME --password PW [--service HOST:PORT] |\n"
         "                          --user N --credential TEXT)\n"
         "                [--mcu HOST:PORT] [--role ROLE] [--workdir DIR]\n"
         "                [--open KINDS] [--auto-subscribe] [--exit-on-disconnect]\n"
         "                [--real-devices]\n"
         "  --login NAME          log in to the service with this account and enter the room as\n"
         "                        the client does: the account's id, the room credential and\n"
         "                        the MCU's address come from the service\n"
         "  --password PW         the account's password\n"
         "  --service HOST:PORT   the HTTP service (default 127.0.0.1:27800)\n"
         "  --user N --credential TEXT\n"
         "                        without the service: this user id, and a room credential\n"
         "                        signed with the servers' internal token (the MCU refuses\n"
         "                        the join and the login without one)\n"
         "  --mcu HOST:PORT       the MCU's main port (default: from the room entry, else\n"
         "                        127.0.0.1:27802)\n"
         "  --role ROLE           teacher, student, parent or other (default student)\n"
         "  --workdir DIR         folder holding videoparam.conf (default: the current one,\n"
         "                        else the program's own)\n"
         "  --open KINDS          media to open once connected: audio, video, screen, comma-"
         "separated\n"
         "  --auto-subscribe      receive every video stream that is announced\n"
         "  --exit-on-disconnect  end (exit code 3) when the MCU connection is lost\n"
         "  --real-devices        use the machine's camera and microphone. Without it the bot\n"
         "                        turns on the synthetic ones (TAV_FAKE_CAMERA=1 and\n"
         "                        TAV_FAKE_MICROPHONE=1 where the environment does not set\n"
         "                        them) and picks them\n"
         "Commands on standard input, one per line (help lists them); events on standard\n"
         "output, one per line.\n";
}

int parse_kind(const std::string& text) {
  if (text == "video" || text == "camera")
    return media_kind_video;
  if (text == "audio" || text == "mic")
    return media_kind_audio;
  if (text == "screen" || text == "share")
    return media_kind_screen;
  if (text == "doc")
    return media_kind_doc_camera;
  unsigned long long value = 0;
  if (parse_number(text, 32, &value) && (value == 1 || value == 2 || value == 4 || value == 32))
    return static_cast<int>(value);
  return 0;
}

bool parse_options(int argc, const char* const* argv, options* out, bool* help,
                   std::string* error) {
  *help = false;
  bool have_room = false, have_user = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      *help = true;
      return true;
    }
    if (arg == "--auto-subscribe") {
      out->auto_subscribe = true;
      continue;
    }
    if (arg == "--exit-on-disconnect") {
      out->exit_on_disconnect = true;
      continue;
    }
    if (arg == "--real-devices") {
      out->real_devices = true;
      continue;
    }
    if (i + 1 >= argc) {
      *error = arg + " needs a value";
      return false;
    }
    const std::string value = argv[++i];
    unsigned long long number = 0;
    if (arg == "--mcu" || arg == "--service") {
      const auto colon = value.rfind(':');
      if (colon == std::string::npos || colon == 0 ||
          !parse_number(value.substr(colon + 1), 65535, &number) || number == 0) {
        *error = "bad " + arg + " (HOST:PORT)";
        return false;
      }
      std::string host = value.substr(0, colon);
      if (host == "localhost")
        host = "127.0.0.1";
      if (arg == "--mcu") {
        out->mcu_host = host;
        out->mcu_port = static_cast<uint16_t>(number);
        out->mcu_given = true;
      } else {
        out->service_host = host;
        out->service_port = static_cast<uint16_t>(number);
      }
    } else if (arg == "--credential") {
      out->credential = value;
    } else if (arg == "--login") {
      out->account = value;
    } else if (arg == "--password") {
      out->password = value;
    } else if (arg == "--room" || arg == "--user") {
      if (!parse_number(value, 0xFFFFFFFFull, &number)) {
        *error = "bad " + arg;
        return false;
      }
      (arg == "--room" ? out->room : out->user) = static_cast<uint32_t>(number);
      (arg == "--room" ? have_room : have_user) = true;
    } else if (arg == "--role") {
      if (value == "teacher")
        out->role = user_role_teacher;
      else if (value == "student")
        out->role = user_role_student;
      else if (value == "parent")
        out->role = user_role_parent;
      else if (value == "other" || value == "auditor")
        out->role = user_role_other;
      else {
        *error = "bad --role (teacher, student, parent, other)";
        return false;
      }
    } else if (arg == "--workdir") {
      out->workdir = value;
    } else if (arg == "--open") {
      out->open = value;
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  if (!have_room) {
    *error = "--room is required";
    return false;
  }
  if (!out->account.empty()) {
    if (out->password.empty() || !out->credential.empty()) {
      *error = "--login takes --password, and no --credential (the service hands it out)";
      return false;
    }
    return true;
  }
  if (!have_user || out->credential.empty()) {
    *error = "--user and --credential are required without --login";
    return false;
  }
  return true;
}

}  // namespace bot

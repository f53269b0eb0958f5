// pavo-bot: a headless member of a class on libpavo, driven by commands on standard input
// and reporting every event on standard output, one line each. For end-to-end and load
// tests, and for looking at the MCU by hand.
#include <poll.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <iostream>
#include <string>

#include "bot_commands.h"
#include "bot_observer.h"
#include "bot_options.h"
#include "bot_output.h"
#include "libpavo/libpavo.h"

namespace {

bool has_video_param() {
  return access("videoparam.conf", R_OK) == 0;
}

// libpavo reads "videoparam.conf" from the working directory: the one given, else the
// current one if it has the file, else the program's own folder (where the build puts it).
bool enter_workdir(const std::string& workdir) {
  if (!workdir.empty())
    return chdir(workdir.c_str()) == 0;
  if (has_video_param())
    return true;
  char self[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0)
    return false;
  std::string dir(self, static_cast<std::size_t>(length));
  dir = dir.substr(0, dir.rfind('/'));
  return chdir(dir.c_str()) == 0;
}

void open_on_connect(Libpavo& library, const std::string& kinds, uint32_t own_id) {
  std::size_t start = 0;
  while (start <= kinds.size()) {
    const std::size_t comma = kinds.find(',', start);
    const std::string name =
        kinds.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (const int kind = bot::parse_kind(name)) {
      user_media_kind_t stream{own_id, kind};
      bot::print_line("result open " +
                      std::to_string(library.media_ctrl(media_cmd_open_media, &stream)));
    }
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  bot::options options;
  bool help = false;
  std::string error;
  if (!bot::parse_options(argc, argv, &options, &help, &error)) {
    std::cerr << "pavo-bot: " << error << "\n" << bot::usage();
    return 2;
  }
  if (help) {
    std::cout << bot::usage();
    return 0;
  }
  if (!enter_workdir(options.workdir) || !has_video_param()) {
    std::cerr << "pavo-bot: no videoparam.conf (use --workdir)\n";
    return 1;
  }

  bot::bot_observer observer;
  observer.auto_subscribe = options.auto_subscribe;
  Libpavo* library = Libpavo::create(&observer, options.user, options.room,
                                     options.mcu_host.c_str(), options.mcu_port, options.role);
  if (!library) {
    std::cerr << "pavo-bot: the library refused to start (videoparam.conf?)\n";
    return 1;
  }
  observer.library = library;
  bot::print_line("created " + std::to_string(options.user) + " " + std::to_string(options.room));

  int exit_code = 0;  // 3 when leaving because the connection was lost
  bool opened = options.open.empty();
  std::string pending;
  for (bool running = true; running;) {
    if (!opened && observer.connected) {
      open_on_connect(*library, options.open, options.user);
      opened = true;
    }
    if (options.exit_on_disconnect && observer.disconnected)
      break;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, 100) <= 0)
      continue;
    char chunk[4096];
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got <= 0)
      break;  // end of input: leave
    pending.append(chunk, static_cast<std::size_t>(got));
    for (std::size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      if (bot::run_command(line, *library, observer, options.user) == bot::command_result::quit) {
        running = false;
        break;
      }
    }
  }
  if (options.exit_on_disconnect && observer.disconnected)
    exit_code = 3;
  observer.library = nullptr;
  Libpavo::destory(library);
  bot::print_line("bye");
  return exit_code;
}

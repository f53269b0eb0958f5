// pavo-bot: a headless member of a class on libpavo, driven by commands on standard input
// and reporting every event on standard output, one line each. For end-to-end and load
// tests, and for looking at the MCU by hand.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "bot_commands.h"
#include "bot_observer.h"
#include "bot_options.h"
#include "bot_output.h"
#include "bot_service.h"
#include "libpavo/libpavo.h"
#include "platform/platform.h"

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

bool env_on(const char* name) {
  const char* value = std::getenv(name);
  return value && *value && std::strcmp(value, "0") != 0;
}

// A bot publishes synthetic media unless told otherwise: the synthetic camera and microphone
// are turned on where the environment does not say, and chosen (they are listed after the
// machine's own devices).
void use_synthetic_devices() {
  setenv("TAV_FAKE_CAMERA", "1", 0);
  setenv("TAV_FAKE_MICROPHONE", "1", 0);
}

void select_synthetic_devices(Libpavo& library) {
  const struct {
    const char* env;
    int kind;
  } devices[] = {{"TAV_FAKE_CAMERA", media_kind_video}, {"TAV_FAKE_MICROPHONE", media_kind_audio}};
  for (const auto& device : devices) {
    if (!env_on(device.env))
      continue;
    const int count =
        library.media_ctrl(media_cmd_device_count, reinterpret_cast<void*>(intptr_t{device.kind}));
    if (count <= 0)
      continue;
    device_select_t select{device.kind, static_cast<uint16_t>(count - 1)};
    library.media_ctrl(media_cmd_select_device, &select);
  }
}

// Drains the wake-up pipe (non-blocking).
void drain(int fd) {
  char bytes[64];
  while (read(fd, bytes, sizeof bytes) > 0) {
  }
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
  // Media threads come and go with every open and close; freed buffers go back.
  platform::returnFreedMemory();
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

  if (!options.account.empty()) {
    bot::room_entry entry;
    if (!bot::enter_room(options.service_host, options.service_port, options.account,
                         options.password, options.room, &entry, &error)) {
      std::cerr << "pavo-bot: " << error << "\n";
      return 1;
    }
    if (options.user != 0 && options.user != entry.user) {
      std::cerr << "pavo-bot: --user " << options.user << " is not " << options.account << " ("
                << entry.user << ")\n";
      return 2;
    }
    options.user = entry.user;
    options.credential = entry.credential;
    if (!options.mcu_given && !entry.mcu_host.empty() && entry.mcu_port != 0) {
      options.mcu_host = entry.mcu_host;
      options.mcu_port = entry.mcu_port;
    }
  }

  if (!options.real_devices)
    use_synthetic_devices();

  // The observer wakes the loop below through this pipe when the connection comes or goes.
  int wake[2] = {-1, -1};
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::cerr << "pavo-bot: no pipe: " << std::strerror(errno) << "\n";
    return 1;
  }
  bot::bot_observer observer;
  observer.auto_subscribe = options.auto_subscribe;
  observer.wake_fd = wake[1];
  Libpavo* library =
      Libpavo::create(&observer, options.user, options.room, options.mcu_host.c_str(),
                      options.mcu_port, options.role, options.credential.c_str());
  if (!library) {
    std::cerr << "pavo-bot: the library refused to start (videoparam.conf?)\n";
    return 1;
  }
  observer.library = library;
  if (!options.real_devices)
    select_synthetic_devices(*library);
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
    // No time-out: every event the loop acts on wakes it.
    pollfd fds[2] = {{wake[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(fds, 2, -1) <= 0)
      continue;
    if (fds[0].revents & POLLIN)
      drain(wake[0]);
    if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
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
  observer.wake_fd = -1;
  close(wake[0]);
  close(wake[1]);
  bot::print_line("bye");
  return exit_code;
}

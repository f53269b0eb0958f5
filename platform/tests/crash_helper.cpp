// Run by crash_handler_test: installs the crash writer, then fails as told.
//   segv | segv-twice | overflow | abort | raise <signal>
// Run by process_test as a stand-in program:
//   end-own-path          ends the processes of its own file: must not end itself
//   quit-when-asked FILE  waits for a quit request, then writes FILE and exits 0
//   ignore-quit           ignores SIGTERM and sleeps
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

// An address in the never-mapped first page; volatile so the compiler cannot
// prove the access invalid and replace it with a trap.
volatile uintptr_t g_badAddress = 0x18;

volatile bool g_stopRecursion = false;

int recurse(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  if (g_stopRecursion)
    return 0;
  return recurse(depth + 1) + frame[0];
}

std::string ownPath() {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  return n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);  // The dump is what we want, not a core file.

  const std::string mode = argc > 1 ? argv[1] : "segv";
  if (mode == "end-own-path") {
    // Must end nobody, itself least; it is still here to tell.
    const auto ended = platform::endProcessesOf(ownPath(), 100);
    return ended && ended->empty() ? 0 : 2;
  }
  if (mode == "quit-when-asked" && argc > 2) {
    const int requests = platform::quitRequests();
    if (requests < 0)
      return 4;
    pollfd wait{requests, POLLIN, 0};
    while (poll(&wait, 1, -1) < 0) {
    }
    if (FILE* out = std::fopen(argv[2], "w")) {
      std::fputs("asked\n", out);
      std::fclose(out);
    }
    return 0;
  }
  if (mode == "ignore-quit") {
    signal(SIGTERM, SIG_IGN);
    for (;;)
      pause();
  }

  platform::installCrashHandler();
  if (mode == "segv-twice")
    platform::installCrashHandler();

  if (mode == "overflow")
    return recurse(0);
  if (mode == "abort")
    std::abort();
  if (mode == "raise" && argc > 2)
    raise(std::atoi(argv[2]));
  *reinterpret_cast<volatile int*>(g_badAddress) = 42;
  return 3;
}

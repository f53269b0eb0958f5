// Run by crash_handler_test: installs the crash writer, then fails as told.
//   segv | segv-twice | overflow | abort | raise <signal> | kill-own-name
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
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

std::string ownFileName() {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0)
    return {};
  const std::string path(exe, static_cast<size_t>(n));
  return path.substr(path.rfind('/') + 1);
}

}  // namespace

int main(int argc, char** argv) {
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);  // The dump is what we want, not a core file.

  const std::string mode = argc > 1 ? argv[1] : "segv";
  if (mode == "kill-own-name") {
    // Must find nothing to kill but other processes of this name; we are still here to tell.
    return platform::terminateProcessByName(ownFileName()) == 0 ? 0 : 2;
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

#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__has_include)
#if __has_include(<execinfo.h>)
#include <execinfo.h>
#define TAV_HAVE_BACKTRACE 1
#endif
#endif

// Everything reached from onFatalSignal() must be async-signal-safe: no
// allocation, no stdio, no locks. Hence the fixed buffers and hand-made
// number formatting below.

namespace platform {
namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

// Folder the dump goes to, ending in '/'; empty when unknown. Filled in at
// install time because the handler can neither allocate nor read the environment.
char g_dumpDir[PATH_MAX];

const char* signalName(int sig) {
  switch (sig) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGBUS:
      return "SIGBUS";
    case SIGILL:
      return "SIGILL";
    case SIGFPE:
      return "SIGFPE";
    case SIGABRT:
      return "SIGABRT";
    default:
      return "?";
  }
}

// Appends to a fixed buffer; remembers when something did not fit.
template <size_t Capacity>
struct Text {
  char data[Capacity];
  size_t size = 0;
  bool truncated = false;

  void put(char c) {
    if (size < Capacity)
      data[size++] = c;
    else
      truncated = true;
  }
  void add(const char* s) {
    while (*s)
      put(*s++);
  }
  void add(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i)
      put(s[i]);
  }
  void addUnsigned(unsigned long long value, unsigned base = 10, int minDigits = 1) {
    char digits[32];
    int n = 0;
    do {
      digits[n++] = "0123456789abcdef"[value % base];
      value /= base;
    } while (value && n < static_cast<int>(sizeof digits));
    while (n < minDigits && n < static_cast<int>(sizeof digits))
      digits[n++] = '0';
    while (n > 0)
      put(digits[--n]);
  }
  void addSigned(long long value) {
    if (value < 0) {
      add("-");
      addUnsigned(0ull - static_cast<unsigned long long>(value));
    } else {
      addUnsigned(static_cast<unsigned long long>(value));
    }
  }
  void addPointer(const void* p) {
    add("0x");
    addUnsigned(reinterpret_cast<uintptr_t>(p), 16, static_cast<int>(sizeof(void*) * 2));
  }
};

void writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// A debugger wants to see the fault itself, not our report of it.
bool tracerAttached() {
  const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  char buf[4096];
  size_t len = 0;
  while (len < sizeof buf - 1) {
    const ssize_t n = read(fd, buf + len, sizeof buf - 1 - len);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    len += static_cast<size_t>(n);
  }
  close(fd);
  buf[len] = '\0';

  static const char kKey[] = "TracerPid:";
  const size_t keyLen = sizeof kKey - 1;
  for (size_t i = 0; i + keyLen <= len; ++i) {
    if ((i == 0 || buf[i - 1] == '\n') && memcmp(buf + i, kKey, keyLen) == 0) {
      size_t j = i + keyLen;
      while (j < len && (buf[j] == ' ' || buf[j] == '\t'))
        ++j;
      return j < len && buf[j] >= '1' && buf[j] <= '9';
    }
  }
  return false;
}

// mkdir -p for the dump folder; parents usually exist, but ~/.local/share
// may not on a fresh account.
void makeDumpDir() {
  char path[PATH_MAX];
  size_t len = strlen(g_dumpDir);
  if (len >= sizeof path)
    return;
  memcpy(path, g_dumpDir, len + 1);
  for (size_t i = 1; i < len; ++i) {
    if (path[i] != '/')
      continue;
    path[i] = '\0';
    mkdir(path, 0700);  // EEXIST and friends: the open() below tells.
    path[i] = '/';
  }
}

void writeDump(int sig, const siginfo_t* info) {
  makeDumpDir();

  Text<PATH_MAX> path;
  path.add(g_dumpDir);
  path.addUnsigned(tickMs());
  path.add(".dmp");
  path.put('\0');
  if (path.truncated)
    return;

  const int fd = open(path.data, O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0)
    return;

  Text<PATH_MAX + 256> text;
  text.add("TavPcClient crash report\nsignal: ");
  text.addSigned(sig);
  text.add(" (");
  text.add(signalName(sig));
  text.add(")\ncode: ");
  text.addSigned(info ? info->si_code : 0);
  text.add("\naddress: ");
  text.addPointer(info ? info->si_addr : nullptr);
  text.add("\npid: ");
  text.addSigned(getpid());
  text.add("\nexecutable: ");
  char exe[PATH_MAX];
  const ssize_t exeLen = readlink("/proc/self/exe", exe, sizeof exe);
  if (exeLen > 0)
    text.add(exe, static_cast<size_t>(exeLen));
  text.add("\nbacktrace:\n");
  writeAll(fd, text.data, text.size);

#ifdef TAV_HAVE_BACKTRACE
  void* frames[64];
  const int count = backtrace(frames, 64);
  backtrace_symbols_fd(frames, count, fd);
#endif
  close(fd);
}

void onFatalSignal(int sig, siginfo_t* info, void*) {
  const int savedErrno = errno;
  if (g_dumpDir[0] != '\0' && !tracerAttached())
    writeDump(sig, info);
  errno = savedErrno;
  // SA_RESETHAND restored the default action; the signal stays blocked until we
  // return, then it ends the process the way it would have without us (a
  // faulting instruction would fault again anyway).
  raise(sig);
}

// The alternate stack is in use from installation on and never freed; this pointer keeps it
// reachable (volatile, so the store is not optimised away), which leak checkers count as held.
char* volatile altStackMemory = nullptr;

void installAltStack() {
  static bool done = false;
  if (done)
    return;
  // Lets the handler run after a stack overflow (on the installing thread).
  size_t size = 64 * 1024;
  if (size < static_cast<size_t>(SIGSTKSZ))
    size = static_cast<size_t>(SIGSTKSZ);
  char* candidate = new (std::nothrow) char[size];
  if (!candidate)
    return;
  stack_t stack{};
  stack.ss_sp = candidate;
  stack.ss_size = size;
  if (sigaltstack(&stack, nullptr) != 0) {
    delete[] candidate;
    return;
  }
  altStackMemory = candidate;
  done = true;
}

}  // namespace

void installCrashHandler() {
  const std::string base = localAppDataDir();
  const std::string dir = base.empty() ? std::string() : base + "/TavPcClient/";
  if (dir.size() < sizeof g_dumpDir) {
    memcpy(g_dumpDir, dir.c_str(), dir.size() + 1);
  } else {
    g_dumpDir[0] = '\0';
  }

#ifdef TAV_HAVE_BACKTRACE
  // The first backtrace() loads libgcc_s, which allocates; do it now rather
  // than in the handler.
  void* frame[1];
  backtrace(frame, 1);
#endif

  installAltStack();

  struct sigaction action {};
  action.sa_sigaction = onFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int sig : kSignals)
    sigaction(sig, &action, nullptr);
}

}  // namespace platform
